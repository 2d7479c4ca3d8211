#include "engine/components/engine_globals.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/components/orvel_data_manager_list.h"
#include "tests/components/engine_fixture.h"

namespace orv {

// The table engine's class is only ever handled by pointer here.
class TOrvelDataManager {
 public:
  explicit TOrvelDataManager(std::string table) : table_name(std::move(table)) {}
  std::string table_name;
};

namespace {

using testing::FakeDataset;
using testing::MessageOf;
using testing::NativeErrorOf;

TEST(EngineGlobalsTest, OnlyTheLastOfNestedShutDownsFreesTheGlobals) {
  EXPECT_FALSE(EngineInitialized());
  EXPECT_EQ(MessageOf([] { Sessions(); }),
            "Orvabase Engine is not initialized - Native error: 01077");
  EXPECT_EQ(NativeErrorOf([] { TOrvelDatabase database(nullptr); }), 1077);

  InitializeEngine();
  TOrvelSession* first_default = &DefaultSession();
  InitializeEngine();
  EXPECT_EQ(&DefaultSession(), first_default);
  FinalizeEngine();
  EXPECT_TRUE(EngineInitialized());
  EXPECT_NO_THROW(TPFSManager::Instance());
  FinalizeEngine();
  EXPECT_FALSE(EngineInitialized());
  EXPECT_EQ(NativeErrorOf([] { TPFSManager::Instance(); }), 1077);
  EXPECT_EQ(NativeErrorOf([] { ManagerLock(); }), 1077);
  FinalizeEngine();  // one too many is harmless

  TOrvelEngineScope scope;
  EXPECT_EQ(DefaultSession().SessionName(), "Default");
  EXPECT_EQ(Sessions().Count(), 1);
}

// Whatever the program left open is closed and freed by the shut-down: the sanitizer's leak
// check and the hooks' counts tell.
TEST(EngineGlobalsTest, ShutDownFreesWhatWasLeftOpen) {
  testing::TempDir dir;
  std::vector<std::string> destroyed;
  auto* dataset = new FakeDataset(nullptr);
  {
    InitializeEngine();
    DataManagers().SetHooks({nullptr, [&](TOrvelDataManager* data_manager) {
                               destroyed.push_back(data_manager->table_name);
                               DataManagers().Unregister(data_manager);
                               delete data_manager;
                             }});
    DataManagers().Register(new TOrvelDataManager("A"));
    DataManagers().Register(new TOrvelDataManager("B"));
    auto* session = new TOrvelSession(nullptr);
    session->SetSessionName("Left");
    auto* database = new TOrvelDatabase(session);
    database->SetDatabaseName("MEMORY");
    database->Open();
    dataset->database_name = dir.path();
    dataset->table_file = "t.dat";
    dataset->Open();
    EXPECT_EQ(DatabaseManagers().Count(), 2);
    FinalizeEngine();
  }
  EXPECT_EQ(destroyed, (std::vector<std::string>{"B", "A"}));
  EXPECT_FALSE(dataset->DatasetActive());
  EXPECT_EQ(dataset->Database(), nullptr);
  delete dataset;
}

TEST(EngineGlobalsTest, DataManagersAreFoundOrMadeUnderTheirLock) {
  TOrvelEngineScope scope;
  TOrvelDataManagerList& list = DataManagers();
  TOrvelDataManager a("A");
  EXPECT_EQ(MessageOf([&] {
              list.FindOrAdd(
                  nullptr, [](TOrvelDataManager*) { return true; }, [&] { return &a; });
            }),
            "mvGetDataManager - nil pointer to DatabaseManager.");

  TOrvelDatabaseManager manager("MEMORY", kStoreModeMemory, dfmNormal, false, true, 0);
  int made = 0;
  auto find = [&](const std::string& table) {
    return list.FindOrAdd(
        &manager,
        [&](TOrvelDataManager* item) {
          EXPECT_TRUE(DataManagerLock().HeldByThisThread());
          return item->table_name == table;
        },
        [&] {
          ++made;
          return &a;
        });
  };
  EXPECT_EQ(find("A"), &a);
  EXPECT_EQ(find("A"), &a);
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(list.Contains(&a));
  list.Unregister(&a);
  list.Unregister(&a);
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace orv
