#pragma once

#include "engine/components/orvel_lock.h"
#include "platform/env.h"

namespace orv {

class TOrvelDataManagerList;
class TOrvelDatabaseManagerList;
class TOrvelSession;
class TOrvelSessionList;
class TOrvelSessionManager;

// Start-up and shut-down of the engine's process-wide objects: the session list with the
// default session "Default", the database-manager list with the manager lock, the table
// data-manager list with the data-manager lock, the plain-file-system manager over env, and the
// collation tables. Calls are counted: only the first InitializeEngine and the matching last
// FinalizeEngine act. Neither may run while other threads use the engine.
void InitializeEngine(Env* env = Env::Default());
void FinalizeEngine();
bool EngineInitialized();

// Keeps the engine initialized for its lifetime.
class TOrvelEngineScope {
 public:
  explicit TOrvelEngineScope(Env* env = Env::Default()) { InitializeEngine(env); }
  ~TOrvelEngineScope() { FinalizeEngine(); }
  TOrvelEngineScope(const TOrvelEngineScope&) = delete;
  TOrvelEngineScope& operator=(const TOrvelEngineScope&) = delete;
};

// Each of these raises engine error 1077 "Orvabase Engine is not initialized" before start-up.
TOrvelSessionList& Sessions();
TOrvelSession& DefaultSession();
TOrvelLock& SessionLock();
TOrvelLock& ManagerLock();
TOrvelLock& DataManagerLock();
TOrvelDatabaseManagerList& DatabaseManagers();
TOrvelDataManagerList& DataManagers();
Env& EngineEnv();

// The session manager the default session holds while it is active; 1077 when there is none.
TOrvelSessionManager& DefaultSessionManager();

// Set, for the rest of the process, once an engine component is created with an owner that is
// being designed: stores then release their files after each use and a missing database file
// is not created on open.
bool IsDesignTime();
void SetDesignTime();
// Tests only: the flag outlives start-up and shut-down, as it does in a designer's process.
void ResetDesignTimeForTesting();

}  // namespace orv
