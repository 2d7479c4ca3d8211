#include "engine/components/orvel_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/components/orvel_session_list.h"
#include "tests/components/engine_fixture.h"

namespace orv {
namespace {

using testing::EngineTest;
using testing::FakeDataset;
using testing::MessageOf;
using testing::NativeErrorOf;

using SessionTest = EngineTest;

TEST_F(SessionTest, TheDefaultSessionIsFoundByAnEmptyOrCaseFoldedName) {
  TOrvelSession& session = DefaultSession();
  EXPECT_EQ(session.SessionName(), "Default");
  EXPECT_TRUE(session.IsDefault());
  EXPECT_FALSE(session.Active());
  EXPECT_EQ(Sessions().FindSession(""), &session);
  EXPECT_EQ(Sessions().FindSession("dEFAULT"), &session);
  EXPECT_EQ(Sessions().FindSession("Other"), nullptr);
  EXPECT_EQ(MessageOf([] { Sessions().GetSession("Other"); }),
            "Invalid session name 'Other' - Native error: 01072");

  TOrvelSession named(nullptr);
  EXPECT_FALSE(named.IsDefault());
}

TEST_F(SessionTest, ActivatingASessionActivatesTheDefaultOneFirst) {
  TOrvelSession session(nullptr);
  session.SetName("sn");
  int startups = 0;
  session.OnStartup = [&](TOrvelSession* sender) {
    EXPECT_EQ(sender, &session);
    ++startups;
  };
  session.SetSessionName("Work");
  session.SetActive(true);
  EXPECT_TRUE(session.Active());
  EXPECT_TRUE(DefaultSession().Active());
  EXPECT_EQ(DefaultSession().SessionManager(), &DefaultSessionManager());
  EXPECT_NE(session.SessionManager(), DefaultSession().SessionManager());

  session.SetActive(false);
  EXPECT_EQ(session.SessionManager(), nullptr);
  session.LockSession();  // the first entry activates the session again
  EXPECT_TRUE(session.Active());
  EXPECT_EQ(session.LockDepth(), 1);
  session.UnlockSession();
  EXPECT_EQ(startups, 2);

  DefaultSession().SetActive(false);
  EXPECT_EQ(NativeErrorOf([] { DefaultSessionManager(); }), 1077);
}

TEST_F(SessionTest, AFailedActivationUnwindsTheLock) {
  TOrvelSession session(nullptr);
  session.SetName("nameless");
  EXPECT_EQ(MessageOf([&] { session.LockSession(); }),
            "nameless: Session name missing - Native error: 01076");
  EXPECT_EQ(session.LockDepth(), 0);
  EXPECT_FALSE(SessionLock().HeldByThisThread());
  EXPECT_THROW(session.UnlockSession(), Exception);
}

TEST_F(SessionTest, SessionNameChangesAreRefusedByRule) {
  TOrvelSession other(nullptr);
  other.SetSessionName("Taken");
  TOrvelSession session(nullptr);
  session.SetName("s");
  session.SetSessionName("Mine");

  EXPECT_EQ(MessageOf([&] { session.SetSessionName("TAKEN"); }),
            "s: Duplicate session name 'TAKEN' - Native error: 01075");
  EXPECT_EQ(NativeErrorOf([&] { session.SetSessionName("default"); }), 1075);

  session.SetActive(true);
  EXPECT_EQ(MessageOf([&] { session.SetSessionName("New"); }),
            "s: Cannot perform this operation on an active session - Native error: 01073");
  EXPECT_EQ(NativeErrorOf([&] { session.SetAutoSessionName(true); }), 1073);
  session.SetActive(false);

  session.SetAutoSessionName(true);
  EXPECT_EQ(MessageOf([&] { session.SetSessionName("New"); }),
            "s: Cannot modify SessionName while AutoSessionName is enabled - Native error: 01074");
  EXPECT_FALSE(session.StoresSessionName());
}

TEST_F(SessionTest, AutoSessionNumbersAreFreedOnlyByTurningTheOptionOff) {
  TComponent form(nullptr);
  auto first = std::make_unique<TOrvelSession>(&form);
  first->SetName("Session1");
  first->SetAutoSessionName(true);
  EXPECT_EQ(first->SessionName(), "Session1_1");
  first.reset();

  auto second = std::make_unique<TOrvelSession>(&form);
  second->SetName("Session1");
  second->SetAutoSessionName(true);
  EXPECT_EQ(second->SessionName(), "Session1_2");

  second->SetAutoSessionName(false);
  EXPECT_EQ(second->AutoSessionNumber(), -1);
  TComponent other_form(nullptr);
  TOrvelSession third(&other_form);
  third.SetName("S");
  third.SetAutoSessionName(true);
  EXPECT_EQ(third.SessionName(), "S_2");
}

TEST_F(SessionTest, AnAutomaticallyNamedSessionOwnsItsForm) {
  TComponent form(nullptr);
  auto* database = new TOrvelDatabase(&form);
  auto* dataset = new FakeDataset(&form);
  auto* session = new TOrvelSession(&form);
  session->SetName("Sess");
  EXPECT_EQ(MessageOf([&] { new TOrvelSession(&form); }), "");  // two sessions may share a form
  ASSERT_EQ(form.ComponentCount(), 4);
  auto* spare = static_cast<TOrvelSession*>(form.Components(3));
  EXPECT_EQ(NativeErrorOf([&] { session->SetAutoSessionName(true); }), 1078);
  delete spare;

  session->SetAutoSessionName(true);
  EXPECT_EQ(session->SessionName(), "Sess_1");
  EXPECT_EQ(database->SessionName(), "Sess_1");
  EXPECT_EQ(dataset->session_name, "Sess_1");

  EXPECT_EQ(MessageOf([&] { new TOrvelSession(&form); }),
            "Cannot add a session to the form or data-module while session 'Sess_1' has "
            "AutoSessionName enabled - Native error: 01079");
  EXPECT_EQ(form.ComponentCount(), 3);

  auto* later_dataset = new FakeDataset(&form);
  EXPECT_EQ(later_dataset->session_name, "Sess_1");
  auto* later_database = new TOrvelDatabase(&form);
  EXPECT_EQ(later_database->Session(), session);

  session->SetName("Renamed");
  EXPECT_EQ(session->SessionName(), "Renamed_1");
  EXPECT_EQ(later_database->SessionName(), "Renamed_1");
  EXPECT_EQ(dataset->session_name, "Renamed_1");
}

TEST_F(SessionTest, ActiveReadFromAFormWaitsForLoaded) {
  TComponent form(nullptr);
  auto* session = new TOrvelSession(&form);
  session->SetName("Loader");
  auto* dataset = new FakeDataset(&form);
  session->Loading();
  session->SetAutoSessionName(true);
  session->SetActive(true);
  EXPECT_FALSE(session->Active());
  EXPECT_EQ(dataset->session_name, "");
  session->Loaded();
  EXPECT_TRUE(session->Active());
  EXPECT_EQ(dataset->session_name, "Loader_1");
}

TEST_F(SessionTest, DeactivationFreesTemporaryDatabasesAndClosesTheOthers) {
  TOrvelSession session(nullptr);
  session.SetSessionName("Work");
  auto* kept = new TOrvelDatabase(&session);
  kept->SetDatabaseName("MEMORY");
  kept->Open();
  TOrvelDatabase* temporary = session.OpenDatabase(dir_.path(), "", nullptr);
  EXPECT_TRUE(temporary->Temporary());
  EXPECT_EQ(session.DatabaseCount(), 2);

  session.SetActive(false);
  EXPECT_EQ(session.DatabaseCount(), 1);
  EXPECT_EQ(session.Databases(0), kept);
  EXPECT_FALSE(kept->Connected());
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

TEST_F(SessionTest, DestroyingASessionLetsGoOfItsDatabases) {
  auto session = std::make_unique<TOrvelSession>(nullptr);
  session->SetSessionName("Gone");
  TOrvelDatabase database(nullptr);
  database.SetSessionName("Gone");
  database.SetDatabaseName("MEMORY");
  database.Open();
  EXPECT_EQ(database.Session(), session.get());

  session.reset();
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Session(), nullptr);
  EXPECT_EQ(database.SessionName(), "");
  EXPECT_EQ(Sessions().FindSession("Gone"), nullptr);
  database.Open();  // an empty session name means the default session
  EXPECT_EQ(database.Session(), &DefaultSession());
}

TEST_F(SessionTest, ADatabaseNamedForASessionMadeLaterIsFoundThroughIt) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("MEMORY");
  database.SetSessionName("Later");
  EXPECT_EQ(database.Session(), &DefaultSession());

  TOrvelSession later(nullptr);
  later.SetSessionName("Later");
  FakeDataset dataset;
  dataset.session_name = "later";
  dataset.database_name = "Memory";
  dataset.Open();
  EXPECT_EQ(dataset.Database(), &database);
  EXPECT_EQ(database.Session(), &later);
  EXPECT_FALSE(database.Temporary());
  EXPECT_EQ(DefaultSession().DatabaseCount(), 0);
}

}  // namespace
}  // namespace orv
