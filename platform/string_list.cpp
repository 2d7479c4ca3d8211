#include "platform/string_list.h"

#include <fmt/format.h>

#include "platform/list_index.h"
#include "platform/value_text.h"

namespace orv {

TStringList& TStringList::operator=(const TStringList& other) {
  Assign(other);
  return *this;
}

size_t TStringList::CheckIndex(int index) const {
  CheckListIndex(index, lines_.size());
  return static_cast<size_t>(index);
}

void TStringList::Put(int index, std::string line) {
  size_t i = CheckIndex(index);
  Changing();
  lines_[i] = std::move(line);
  Changed();
}

int TStringList::Add(std::string line) {
  Insert(Count(), std::move(line));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string line) {
  CheckListIndex(index, lines_.size() + 1);
  Changing();
  lines_.insert(lines_.begin() + index, std::move(line));
  Changed();
}

void TStringList::Delete(int index) {
  size_t i = CheckIndex(index);
  Changing();
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
  Changed();
}

void TStringList::Clear() {
  if (lines_.empty()) return;
  Changing();
  lines_.clear();
  Changed();
}

int TStringList::IndexOf(std::string_view line) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (SameText(lines_[i], line)) return static_cast<int>(i);
  return -1;
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  BeginUpdate();
  Changing();
  lines_ = other.lines_;
  Changed();
  EndUpdate();
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  BeginUpdate();
  Changing();
  lines_.clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines_.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines_.emplace_back(text.substr(start));
  Changed();
  EndUpdate();
}

void TStringList::BeginUpdate() {
  if (update_count_ == 0) Changing();
  ++update_count_;
}

void TStringList::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed();
}

void TStringList::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

}  // namespace orv
