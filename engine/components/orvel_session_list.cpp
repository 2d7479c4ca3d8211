#include "engine/components/orvel_session_list.h"

#include <atomic>

#include "engine/common/orv_exception.h"
#include "engine/components/orvel_session.h"
#include "platform/value_text.h"

namespace orv {

namespace {

std::atomic<uint64_t> g_next_token{1};

}  // namespace

TOrvelSessionManager::TOrvelSessionManager() : token_(g_next_token++) {}

TOrvelSessionList::TOrvelSessionList() = default;

TOrvelSessionList::~TOrvelSessionList() {
  FreeAll();
}

void TOrvelSessionList::FreeAll() {
  for (;;) {
    TOrvelSession* victim = nullptr;
    {
      std::lock_guard<std::mutex> guard(list_mutex_);
      if (sessions_.empty()) break;
      victim = sessions_.back();
      // The default session goes last: the others activated it and may still lean on it.
      if (victim == default_session_ && sessions_.size() > 1)
        victim = sessions_[sessions_.size() - 2];
    }
    delete victim;
    RemoveSession(victim);
  }
}

void TOrvelSessionList::AddSession(TOrvelSession* session) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (!had_session_) {
    had_session_ = true;
    default_session_ = session;
    session->MarkDefault();
  }
  sessions_.push_back(session);
}

void TOrvelSessionList::RemoveSession(TOrvelSession* session) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  std::erase(sessions_, session);
  if (default_session_ == session) default_session_ = nullptr;
}

int TOrvelSessionList::Count() const {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return static_cast<int>(sessions_.size());
}

TOrvelSession* TOrvelSessionList::Sessions(int index) const {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return sessions_.at(static_cast<size_t>(index));
}

std::vector<TOrvelSession*> TOrvelSessionList::Items() const {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return sessions_;
}

TOrvelSession* TOrvelSessionList::FindSession(std::string_view name) const {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (name.empty()) return default_session_;
  for (TOrvelSession* session : sessions_)
    if (SameText(session->SessionName(), name)) return session;
  return nullptr;
}

TOrvelSession* TOrvelSessionList::GetSession(std::string_view name) const {
  TOrvelSession* session = FindSession(name);
  if (session == nullptr) throw EOrvException::Fmt(1072, {}, std::string(name));
  return session;
}

int TOrvelSessionList::TakeAutoSessionNumber() {
  std::lock_guard<std::mutex> guard(list_mutex_);
  size_t number = 0;
  while (number < used_numbers_.size() && used_numbers_[number]) ++number;
  if (number == used_numbers_.size()) used_numbers_.push_back(false);
  used_numbers_[number] = true;
  return static_cast<int>(number);
}

void TOrvelSessionList::ReleaseAutoSessionNumber(int number) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (number >= 0 && static_cast<size_t>(number) < used_numbers_.size())
    used_numbers_[static_cast<size_t>(number)] = false;
}

TOrvelSessionManager& TOrvelSessionList::DefaultSessionManager() const {
  if (!default_session_manager_) throw EOrvException(1077);
  return *default_session_manager_;
}

TOrvelSessionManager& TOrvelSessionList::AcquireDefaultSessionManager() {
  if (!default_session_manager_)
    default_session_manager_ = std::make_unique<TOrvelSessionManager>();
  return *default_session_manager_;
}

void TOrvelSessionList::FreeDefaultSessionManager() {
  default_session_manager_.reset();
}

}  // namespace orv
