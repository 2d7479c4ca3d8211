#include "engine/files/plain_file_system.h"

#include <algorithm>

namespace orv {

namespace {

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool SameNameIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

std::string_view FileNameExtension(std::string_view name) {
  auto dot = name.find_last_of('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string_view FileNameBase(std::string_view name) {
  return name.substr(0, name.size() - FileNameExtension(name).size());
}

TAbstractPlainFileSystem::~TAbstractPlainFileSystem() {
  FreeFiles();
}

void TAbstractPlainFileSystem::FreeFiles() {
  while (!files_.empty()) files_.pop_back();
}

void TAbstractPlainFileSystem::CloseFile(TAbstractFile* file) {
  std::unique_ptr<TAbstractFile> taken = TakeFile(file);
  // Close here rather than in the destructor so that a failed flush reaches the caller.
  if (taken) taken->Close();
}

TAbstractFile* TAbstractPlainFileSystem::FindOpenFile(std::string_view name,
                                                      bool ignore_case) const {
  for (const auto& file : files_) {
    if (ignore_case ? SameNameIgnoreCase(file->FileName(), name) : file->FileName() == name)
      return file.get();
  }
  return nullptr;
}

TAbstractFile* TAbstractPlainFileSystem::ReuseFile(std::string_view name, bool ignore_case,
                                                   bool create) {
  TAbstractFile* file = FindOpenFile(name, ignore_case);
  if (file == nullptr) return nullptr;
  if (!file->IsOpen())
    file->Open(create);
  else if (create)
    file->SetSize(0);
  file->SetPosition(0);
  return file;
}

TAbstractFile* TAbstractPlainFileSystem::AddFile(std::unique_ptr<TAbstractFile> file) {
  files_.push_back(std::move(file));
  return files_.back().get();
}

std::unique_ptr<TAbstractFile> TAbstractPlainFileSystem::TakeFile(TAbstractFile* file) {
  auto it = std::find_if(files_.begin(), files_.end(),
                         [file](const auto& owned) { return owned.get() == file; });
  if (it == files_.end()) return nullptr;
  std::unique_ptr<TAbstractFile> taken = std::move(*it);
  files_.erase(it);
  return taken;
}

}  // namespace orv
