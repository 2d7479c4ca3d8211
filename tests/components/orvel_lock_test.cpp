#include "engine/components/orvel_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager_list.h"
#include "engine/components/orvel_database.h"
#include "engine/components/orvel_session.h"
#include "platform/exception.h"
#include "tests/components/engine_fixture.h"

namespace orv {
namespace {

struct OrderCase {
  const char* name;
  std::vector<int> sequence;  // indexes into the three locks, entered in this order
  bool allowed;
};

TEST(OrvelLockTest, FirstEntriesFollowTheRanks) {
  TOrvelLock session("session lock", kLockRankSession);
  TOrvelLock manager("manager lock", kLockRankLists);
  TOrvelLock data("data-manager lock", kLockRankLists);
  TOrvelLock* locks[] = {&session, &manager, &data};
  const OrderCase cases[] = {
      {"session then manager", {0, 1}, true},
      {"session then data manager", {0, 2}, true},
      {"manager re-entered", {0, 1, 1}, true},
      {"session re-entered under manager", {0, 1, 0}, true},
      {"manager then data manager", {1, 2}, false},
      {"data manager then manager", {0, 2, 1}, false},
      {"session first taken under manager", {1, 0}, false},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TOrvelLock*> entered;
    bool refused = false;
    for (int index : c.sequence) {
      try {
        locks[index]->Enter();
        entered.push_back(locks[index]);
      } catch (const Exception& e) {
        refused = true;
        EXPECT_NE(std::string(e.what()).find("TOrvelLock.Enter"), std::string::npos);
        break;
      }
    }
    EXPECT_EQ(refused, !c.allowed);
    for (auto it = entered.rbegin(); it != entered.rend(); ++it) (*it)->Leave();
    for (TOrvelLock* lock : locks) EXPECT_FALSE(lock->HeldByThisThread());
  }
}

TEST(OrvelLockTest, LeavingALockThisThreadDoesNotHoldRaises) {
  TOrvelLock lock("manager lock", kLockRankLists);
  EXPECT_THROW(lock.Leave(), Exception);
  lock.Enter();
  std::thread other([&] { EXPECT_THROW(lock.Leave(), Exception); });
  other.join();
  EXPECT_EQ(lock.Depth(), 1);
  lock.Leave();
}

TEST(OrvelLockTest, ARefusedEntryLeavesOtherThreadsFree) {
  TOrvelLock manager("manager lock", kLockRankLists);
  TOrvelLock data("data-manager lock", kLockRankLists);
  manager.Enter();
  EXPECT_THROW(data.Enter(), Exception);
  manager.Leave();
  std::atomic<bool> got{false};
  std::thread other([&] {
    data.Enter();
    got = true;
    data.Leave();
  });
  other.join();
  EXPECT_TRUE(got);
}

using testing::EngineTest;
using testing::FakeDataset;

// Closing a table takes the data-manager lock (its data manager leaves the global list); the
// database and its manager must have let go of the manager lock by then, or the order check
// refuses the close.
TEST_F(EngineTest, ClosingDatabasesNeverHoldsTheManagerLockWhileDatasetsClose) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName(dir_.path());
  int closes = 0;
  std::vector<std::unique_ptr<FakeDataset>> datasets;
  for (int i = 0; i < 3; ++i) {
    auto dataset = std::make_unique<FakeDataset>();
    dataset->database_name = dir_.path();
    dataset->on_close = [&closes] {
      TOrvelLockGuard data(DataManagerLock());
      ++closes;
    };
    dataset->Open();
    datasets.push_back(std::move(dataset));
  }
  ASSERT_TRUE(database.Connected());
  EXPECT_NO_THROW(database.Close());
  EXPECT_EQ(closes, 3);
  for (auto& dataset : datasets) EXPECT_FALSE(dataset->DatasetActive());

  for (auto& dataset : datasets) dataset->Open();
  EXPECT_NO_THROW(DefaultSession().SetActive(false));
  EXPECT_EQ(closes, 6);
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

// Sessions on two threads open and close databases on shared locations at once: everything is
// serialized by the session lock, and the other two locks are only ever taken inside it.
TEST_F(EngineTest, ThreadsInTwoSessionsDoNotDeadlock) {
  TOrvelSession first(nullptr);
  first.SetSessionName("First");
  TOrvelSession second(nullptr);
  second.SetSessionName("Second");
  std::atomic<int> failures{0};
  auto work = [&](TOrvelSession* session, std::string location) {
    try {
      for (int i = 0; i < 50; ++i) {
        FakeDataset dataset;
        dataset.session_name = session->SessionName();
        dataset.database_name = location;
        dataset.on_close = [] { TOrvelLockGuard data(DataManagerLock()); };
        dataset.Open();
        dataset.Close();
      }
    } catch (...) {
      ++failures;
    }
  };
  const std::string folder = dir_.path();
  std::thread a(work, &first, "MEMORY");
  std::thread b(work, &second, folder);
  a.join();
  b.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace orv
