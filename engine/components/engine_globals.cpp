#include "engine/components/engine_globals.h"

#include <memory>

#include "engine/common/collation.h"
#include "engine/common/orv_exception.h"
#include "engine/components/orvel_data_manager_list.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/components/orvel_session.h"
#include "engine/components/orvel_session_list.h"
#include "engine/files/pfs_manager.h"
#include "platform/locale.h"
#include "platform/value_text.h"

namespace orv {

namespace {

struct TEngineGlobals {
  explicit TEngineGlobals(Env* engine_env) : env(engine_env) {}

  Env* env;
  TOrvelLock manager_lock{"manager lock", kLockRankLists};
  TOrvelLock data_manager_lock{"data-manager lock", kLockRankLists};
  TOrvelDatabaseManagerList managers{manager_lock};
  TOrvelDataManagerList data_managers{data_manager_lock};
  std::unique_ptr<TOrvelSessionList> sessions;
};

int g_init_count = 0;
std::unique_ptr<TEngineGlobals> g_globals;
bool g_design_time = false;

TEngineGlobals& Globals() {
  if (!g_globals) throw EOrvException(1077);
  return *g_globals;
}

}  // namespace

void InitializeEngine(Env* env) {
  if (g_init_count++ > 0) return;
  try {
    InitCollation();
    // Text-to-number conversions of filters and SQL follow the user locale ("," under ru_RU).
    SetDecimalSeparator(LocaleDecimalSeparator());
    g_globals = std::make_unique<TEngineGlobals>(env);
    TPFSManager::CreateInstance(env);
    g_globals->sessions = std::make_unique<TOrvelSessionList>();
    auto* default_session = new TOrvelSession(nullptr);
    default_session->SetSessionName("Default");
  } catch (...) {
    g_init_count = 0;
    if (g_globals) g_globals->sessions.reset();
    TPFSManager::FreeInstance();
    g_globals.reset();
    throw;
  }
}

void FinalizeEngine() {
  if (g_init_count == 0 || --g_init_count > 0) return;
  // Sessions close their databases, which frees the managers they used; what is left after
  // that belonged to datasets that were never closed.
  g_globals->sessions->FreeAll();
  g_globals->sessions.reset();
  g_globals->data_managers.FreeAll();
  g_globals->managers.FreeAll();
  g_globals.reset();
  TPFSManager::FreeInstance();
}

bool EngineInitialized() {
  return g_globals != nullptr && g_globals->sessions != nullptr;
}

TOrvelSessionList& Sessions() {
  TEngineGlobals& globals = Globals();
  if (!globals.sessions) throw EOrvException(1077);
  return *globals.sessions;
}

TOrvelSession& DefaultSession() {
  TOrvelSession* session = Sessions().DefaultSession();
  if (session == nullptr) throw EOrvException(1077);
  return *session;
}

TOrvelLock& SessionLock() {
  return Sessions().SessionLock();
}

TOrvelLock& ManagerLock() {
  return Globals().manager_lock;
}

TOrvelLock& DataManagerLock() {
  return Globals().data_manager_lock;
}

TOrvelDatabaseManagerList& DatabaseManagers() {
  return Globals().managers;
}

TOrvelDataManagerList& DataManagers() {
  return Globals().data_managers;
}

Env& EngineEnv() {
  return *Globals().env;
}

TOrvelSessionManager& DefaultSessionManager() {
  return Sessions().DefaultSessionManager();
}

bool IsDesignTime() {
  return g_design_time;
}

void SetDesignTime() {
  g_design_time = true;
}

void ResetDesignTimeForTesting() {
  g_design_time = false;
}

}  // namespace orv
