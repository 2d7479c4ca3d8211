#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// A list of text lines with change notification: OnChanging before and OnChange after every
// change, once for a whole BeginUpdate/EndUpdate bracket.
class TStringList {
 public:
  using TNotifyEvent = std::function<void(TStringList*)>;

  TStringList() = default;
  TStringList(const TStringList& other) : lines_(other.lines_) {}
  TStringList& operator=(const TStringList& other);
  virtual ~TStringList() = default;

  int Count() const { return static_cast<int>(lines_.size()); }
  // Index checks raise orv::Exception "List index out of bounds (5)".
  const std::string& operator[](int index) const { return lines_.at(CheckIndex(index)); }
  const std::string& Strings(int index) const { return (*this)[index]; }
  void Put(int index, std::string line);

  int Add(std::string line);
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear();
  // Case-insensitive (code page 1251 letters); -1 when absent.
  int IndexOf(std::string_view line) const;
  void Assign(const TStringList& other);
  bool Equals(const TStringList& other) const { return lines_ == other.lines_; }

  // Every line followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, LF or CR; a final line break adds no empty line.
  void SetText(std::string_view text);

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changing();
  virtual void Changed();

 private:
  size_t CheckIndex(int index) const;

  std::vector<std::string> lines_;
  int update_count_ = 0;
};

using TStrings = TStringList;

}  // namespace orv
