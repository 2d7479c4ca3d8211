#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/component.h"

namespace orv {

class TOrvelDatabase;
class TOrvelSessionManager;

// A named scope of databases. All engine work runs inside LockSession/UnlockSession of the
// session it belongs to, which holds the process-wide session lock and activates the session
// on first entry.
class TOrvelSession : public TComponent {
 public:
  using TPasswordEvent = std::function<void(TOrvelSession* sender, bool& continue_)>;
  using TNotifyEvent = std::function<void(TOrvelSession* sender)>;

  // Joins the session list. On an owner that holds a session with AutoSessionName on, raises
  // engine error 1079.
  explicit TOrvelSession(TComponent* owner = nullptr);
  ~TOrvelSession() override;

  bool Active() const { return session_manager_ != nullptr; }
  void SetActive(bool active);
  bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool value) { keep_connections_ = value; }
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  // SessionName is left out of a stored form while AutoSessionName derives it.
  bool StoresSessionName() const { return !auto_session_name_; }

  TPasswordEvent OnPassword;
  // Fired at the start of every activation.
  TNotifyEvent OnStartup;

  void SetName(std::string name) override;
  void Loaded() override;

  bool IsDefault() const { return is_default_; }
  // -1 while the session is not named automatically.
  int AutoSessionNumber() const { return auto_number_; }
  int LockDepth() const { return lock_depth_; }
  TOrvelSessionManager* SessionManager() const { return session_manager_; }

  // The session's database for name (or, with an empty name, for file_name), or a temporary
  // one made for it, opened, with one more use.
  TOrvelDatabase* OpenDatabase(const std::string& name, const std::string& file_name,
                               TComponent* owner);
  // One use less; at none, a database with KeepConnection off is closed (a temporary one freed).
  void CloseDatabase(TOrvelDatabase* database);
  TOrvelDatabase* FindDatabase(const std::string& name, const std::string& file_name,
                               TComponent* owner) const;
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TOrvelDatabase* Databases(int index) const { return databases_.at(static_cast<size_t>(index)); }

  void LockSession();
  void UnlockSession();

  // The session with AutoSessionName on among owner's components, if any.
  static TOrvelSession* AutoSessionOf(const TComponent* owner);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TOrvelDatabase;
  friend class TOrvelSessionList;

  void MarkDefault() { is_default_ = true; }
  void AddDatabase(TOrvelDatabase* database);
  void RemoveDatabase(TOrvelDatabase* database);
  void StartSession();
  void StopSession();
  std::string AutoName(int number) const;
  // Gives the session's name to every engine dataset and database on the owner that has
  // another one.
  void UpdateOwnerSessionNames();

  std::vector<TOrvelDatabase*> databases_;
  TOrvelSessionManager* session_manager_ = nullptr;
  std::unique_ptr<TOrvelSessionManager> own_session_manager_;
  std::string session_name_;
  bool is_default_ = false;
  bool auto_session_name_ = false;
  bool keep_connections_ = true;
  int auto_number_ = -1;
  bool naming_ = false;
  bool stream_active_ = false;
  int lock_depth_ = 0;
};

// Holds a session's lock for a scope.
class TOrvelSessionLock {
 public:
  explicit TOrvelSessionLock(TOrvelSession& session) : session_(session) { session_.LockSession(); }
  ~TOrvelSessionLock() { session_.UnlockSession(); }
  TOrvelSessionLock(const TOrvelSessionLock&) = delete;
  TOrvelSessionLock& operator=(const TOrvelSessionLock&) = delete;

 private:
  TOrvelSession& session_;
};

}  // namespace orv
