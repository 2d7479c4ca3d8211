#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/components/orvel_lock.h"
#include "platform/string_list.h"

namespace orv {

class TOrvelSession;

// The engine handle of an active session. A database manager keeps the token of the session
// manager whose session created it; tokens are never reused, so a stale one never matches.
class TOrvelSessionManager {
 public:
  TOrvelSessionManager();
  TOrvelSessionManager(const TOrvelSessionManager&) = delete;
  TOrvelSessionManager& operator=(const TOrvelSessionManager&) = delete;

  uint64_t Token() const { return token_; }
  TStringList& Strings() { return strings_; }

 private:
  uint64_t token_;
  TStringList strings_;
};

// Every session of the process. Sessions add themselves when created and leave when freed; the
// first one ever added is the default session. Holds the process-wide session lock.
class TOrvelSessionList {
 public:
  TOrvelSessionList();
  ~TOrvelSessionList();
  TOrvelSessionList(const TOrvelSessionList&) = delete;
  TOrvelSessionList& operator=(const TOrvelSessionList&) = delete;

  TOrvelLock& SessionLock() { return session_lock_; }

  void AddSession(TOrvelSession* session);
  // Frees every session still listed, the default session last; shut-down runs it while the
  // list and its lock are still there for the sessions to use.
  void FreeAll();
  void RemoveSession(TOrvelSession* session);
  int Count() const;
  TOrvelSession* Sessions(int index) const;
  std::vector<TOrvelSession*> Items() const;
  TOrvelSession* DefaultSession() const { return default_session_; }

  // Names compare without regard to case; an empty name gives the default session.
  TOrvelSession* FindSession(std::string_view name) const;
  // As FindSession; an unknown name raises engine error 1072.
  TOrvelSession* GetSession(std::string_view name) const;

  // The lowest free auto-session number, now taken.
  int TakeAutoSessionNumber();
  void ReleaseAutoSessionNumber(int number);

  // The default session's session manager, made on first use; 1077 when there is none.
  TOrvelSessionManager& DefaultSessionManager() const;
  TOrvelSessionManager& AcquireDefaultSessionManager();
  void FreeDefaultSessionManager();

 private:
  // Guards the vectors only; never held while calling out.
  mutable std::mutex list_mutex_;
  std::vector<TOrvelSession*> sessions_;
  std::vector<bool> used_numbers_;
  TOrvelSession* default_session_ = nullptr;
  bool had_session_ = false;
  std::unique_ptr<TOrvelSessionManager> default_session_manager_;
  TOrvelLock session_lock_{"session lock", kLockRankSession};
};

}  // namespace orv
