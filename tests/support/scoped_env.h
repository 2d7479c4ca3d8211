#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orv::testing {

// Sets environment variables for the life of the object and puts the old values back after.
// A null value unsets the variable. Code that caches what it read (the locale services) must be
// told to re-read after both steps.
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      Put(name, value);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      Put(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static void Put(const char* name, const char* value) {
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A fixture whose tests pick the locale variables with Use(); Reload is what re-reads them
// (ReloadLocale, InitCollation). The variables and the locale in force are restored after each
// test.
template <void (*Reload)()>
class LocaleFixture : public ::testing::Test {
 protected:
  void Use(const char* lc_all, const char* lc_collate = nullptr, const char* lang = nullptr) {
    env_.reset();
    env_.emplace(std::initializer_list<std::pair<const char*, const char*>>{
        {"LC_ALL", lc_all}, {"LC_COLLATE", lc_collate}, {"LANG", lang}});
    Reload();
  }
  void TearDown() override {
    env_.reset();
    Reload();
  }

 private:
  std::optional<ScopedEnv> env_;
};

}  // namespace orv::testing
