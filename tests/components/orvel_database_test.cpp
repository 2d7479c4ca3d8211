#include "engine/components/orvel_database.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "engine/components/orvel_database_manager.h"
#include "engine/files/abstract_file.h"
#include "tests/components/engine_fixture.h"

namespace orv {
namespace {

using testing::EngineTest;
using testing::FakeDataset;
using testing::MessageOf;
using testing::NativeErrorOf;

std::string ReadAll(TAbstractFile* file) {
  std::string text(static_cast<size_t>(file->GetSize()), '\0');
  file->SetPosition(0);
  file->ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
  return text;
}

void WriteText(TAbstractFile* file, const std::string& text) {
  file->SetPosition(0);
  file->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

using DatabaseTest = EngineTest;

TEST_F(DatabaseTest, AFolderDatabaseServesTableFilesByStoreMode) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName(dir_.path());
  database.Open();
  ASSERT_TRUE(database.Connected());
  EXPECT_EQ(database.Directory(), dir_.path());
  EXPECT_EQ(database.Session(), &DefaultSession());
  EXPECT_TRUE(DefaultSession().Active());
  TOrvelDatabaseManager* manager = database.DatabaseManager();
  EXPECT_EQ(manager->StoreMode(), kStoreModeDisk);
  EXPECT_EQ(manager->Location(), dir_.path());
  EXPECT_TRUE(manager->StoreExists());

  TAbstractFile* file = manager->OpenFile("t.dat", kStoreModeOwn, true, false);
  WriteText(file, "on disk");
  manager->CloseFile(file);
  EXPECT_TRUE(std::ifstream(dir_.File("t.dat")).good());
  EXPECT_TRUE(manager->FileExists("t.dat", kStoreModeOwn));
  EXPECT_TRUE(manager->FileExists("t.dat", kStoreModeDisk));
  EXPECT_FALSE(manager->FileExists("t.dat", kStoreModeMemory));

  // A memory table that is not there yet starts as a copy of the one on disk.
  TAbstractFile* memory = manager->OpenFile("t.dat", kStoreModeMemory, false, false);
  EXPECT_EQ(ReadAll(memory), "on disk");
  WriteText(memory, "in memory");
  EXPECT_TRUE(manager->SaveToStore("t.dat"));
  file = manager->OpenFile("t.dat", kStoreModeOwn, false, false);
  EXPECT_EQ(ReadAll(file), "in memory");
  manager->CloseFile(file);
  EXPECT_FALSE(manager->SaveToStore("missing.dat"));
  EXPECT_THROW(manager->OpenFile("missing.dat", kStoreModeMemory, false, false), Exception);

  EXPECT_TRUE(manager->RenameFile("t.dat", "u.dat", kStoreModeOwn));
  EXPECT_TRUE(manager->FileExists("u.dat", kStoreModeOwn));
  EXPECT_TRUE(manager->DeleteFile("u.dat", kStoreModeOwn));
  EXPECT_FALSE(manager->FileExists("u.dat", kStoreModeOwn));

  database.Close();
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

TEST_F(DatabaseTest, AMemoryDatabaseKeepsItsFilesInMemory) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("memory");
  database.Open();
  TOrvelDatabaseManager* manager = database.DatabaseManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->StoreMode(), kStoreModeMemory);
  EXPECT_EQ(manager->Location(), "memory");
  EXPECT_TRUE(manager->StoreExists());
  TAbstractFile* file = manager->OpenFile("t.dat", kStoreModeOwn, true, false);
  WriteText(file, "x");
  EXPECT_TRUE(manager->FileExists("T.DAT", kStoreModeMemory));
  EXPECT_FALSE(manager->SaveToStore("t.dat"));  // memory is its own store already

  FakeDataset dataset;
  dataset.database_name = "MEMORY";
  dataset.in_memory = true;
  dataset.Open();
  EXPECT_EQ(dataset.Database(), &database);
  EXPECT_EQ(dataset.DatabaseManager(), manager);
  EXPECT_EQ(database.RefCount(), 1);
}

TEST_F(DatabaseTest, OpenReportsAMissingNameFolderOrSession) {
  TOrvelDatabase database(nullptr);
  database.SetName("db");
  EXPECT_EQ(MessageOf([&] { database.Open(); }), "db: Database name missing - Native error: 01081");
  database.SetDatabaseName(dir_.File("absent"));
  EXPECT_EQ(MessageOf([&] { database.Open(); }),
            "TOrvelDatabase.Open - Directory \"" + dir_.File("absent") + "\" doesn't exist.");
  database.SetDatabaseName("MEMORY");
  database.SetSessionName("Nowhere");
  EXPECT_EQ(MessageOf([&] { database.Open(); }),
            "db: Invalid session name 'Nowhere' - Native error: 01072");
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

TEST_F(DatabaseTest, ConnectedDatabasesRefuseChangesOfWhereTheyLive) {
  TOrvelDatabase database(nullptr);
  database.SetName("db");
  database.SetDatabaseName("MEMORY");
  database.Open();
  const struct {
    const char* name;
    std::function<void()> change;
  } cases[] = {
      {"DatabaseName", [&] { database.SetDatabaseName("Other"); }},
      {"InMemory", [&] { database.SetInMemory(true); }},
      {"SessionName", [&] { database.SetSessionName("Other"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MessageOf(c.change),
              "db: Cannot perform this operation on an open database - Native error: 01080");
    EXPECT_TRUE(database.Connected());
  }
  database.SetDatabaseFileName(dir_.File("x.ovb"));  // disconnects instead
  EXPECT_FALSE(database.Connected());
}

TEST_F(DatabaseTest, DatabaseNamesAreUniqueInASession) {
  TOrvelDatabase first(nullptr);
  first.SetDatabaseName("Shared");
  TOrvelDatabase second(nullptr);
  second.SetName("second");
  EXPECT_EQ(MessageOf([&] { second.SetDatabaseName("SHARED"); }),
            "second: Cannot perform this operation on an open database - Native error: 01080");

  first.SetHandleShared(true);
  second.SetHandleShared(true);
  second.SetDatabaseName("shared");

  TOrvelDatabase* temporary = DefaultSession().OpenDatabase("Alias", "", nullptr);
  EXPECT_TRUE(temporary->Temporary());
  DefaultSession().CloseDatabase(temporary);
  EXPECT_EQ(DefaultSession().DatabaseCount(), 3);
  TOrvelDatabase third(nullptr);
  third.SetDatabaseName("alias");  // the unused temporary database makes way
  EXPECT_EQ(DefaultSession().DatabaseCount(), 3);
  EXPECT_EQ(DefaultSession().FindDatabase("ALIAS", "", nullptr), &third);
}

TEST_F(DatabaseTest, ASharedHandleIsBorrowedAndGoesWithItsLender) {
  TOrvelDatabase lender(nullptr);
  lender.SetDatabaseName("MEMORY");
  lender.SetHandleShared(true);
  TOrvelDatabase borrower(nullptr);
  borrower.SetHandleShared(true);
  borrower.SetDatabaseName("Memory");
  lender.Open();
  borrower.Open();
  EXPECT_TRUE(borrower.BorrowsManager());
  EXPECT_EQ(borrower.DatabaseManager(), lender.DatabaseManager());
  EXPECT_EQ(lender.DatabaseManager()->DatabaseList().size(), 1u);

  lender.Close();
  EXPECT_FALSE(borrower.Connected());
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

TEST_F(DatabaseTest, ASecondSessionCannotAttachToAnotherSessionsManager) {
  TOrvelDatabase first(nullptr);
  first.SetDatabaseName(dir_.path());
  first.Open();
  TOrvelSession session(nullptr);
  session.SetSessionName("S2");
  auto* second = new TOrvelDatabase(&session);
  second->SetName("second");
  second->SetDatabaseName(dir_.path());
  EXPECT_EQ(MessageOf([&] { second->Open(); }),
            "second: Database handle owned by a different session - Native error: 01084");
  EXPECT_EQ(DatabaseManagers().Count(), 1);
  first.Close();
  second->Open();
  EXPECT_TRUE(second->Connected());
}

TEST_F(DatabaseTest, TemporaryDatabasesFollowKeepConnections) {
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept" : "not kept");
    TOrvelSession session(nullptr);
    session.SetSessionName("S");
    session.SetKeepConnections(keep);
    {
      FakeDataset first;
      first.session_name = "S";
      first.database_name = dir_.path();
      FakeDataset second;
      second.session_name = "s";
      second.database_name = dir_.path();
      first.Open();
      second.Open();
      ASSERT_EQ(session.DatabaseCount(), 1);
      TOrvelDatabase* temporary = session.Databases(0);
      EXPECT_TRUE(temporary->Temporary());
      EXPECT_EQ(temporary->Owner(), &session);
      EXPECT_EQ(temporary->KeepConnection(), keep);
      EXPECT_EQ(temporary->RefCount(), 2);
      EXPECT_EQ(temporary->DatasetCount(), 2);
      first.Close();
      EXPECT_EQ(session.DatabaseCount(), 1);
    }
    EXPECT_EQ(session.DatabaseCount(), keep ? 1 : 0);
    if (keep) {
      EXPECT_TRUE(session.Databases(0)->Connected());
      EXPECT_EQ(session.Databases(0)->RefCount(), 0);
    }
  }
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

TEST_F(DatabaseTest, ClosingADatabaseClosesItsDatasets) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName(dir_.path());
  TComponent form(nullptr);
  auto* active = new FakeDataset(&form);
  active->database_name = dir_.path();
  active->table_file = "t.dat";
  active->Open();
  auto* idle = new FakeDataset(&form);
  idle->database_name = dir_.path();
  idle->SetDatabaseUse(3);  // an operation on a closed table
  EXPECT_EQ(database.DatasetCount(), 2);
  EXPECT_EQ(database.RefCount(), 2);

  database.Close();
  EXPECT_FALSE(active->DatasetActive());
  EXPECT_EQ(idle->Database(), nullptr);
  EXPECT_FALSE(idle->UsesDatabase());
  EXPECT_EQ(database.DatasetCount(), 0);
  EXPECT_EQ(database.RefCount(), 0);
  idle->ClearDatabaseUse(3);
}

TEST_F(DatabaseTest, AReadOnlyDatabaseMakesItsLocationReadOnly) {
  TOrvelDatabase first(nullptr);
  first.SetDatabaseName("MEMORY");
  first.SetReadOnly(true);
  first.Open();
  EXPECT_TRUE(first.DatabaseManager()->ReadOnly());
  FakeDataset dataset;
  dataset.database_name = "MEMORY";
  dataset.Open();
  EXPECT_TRUE(dataset.read_only);

  // A read-only table does not turn the rest of its location read-only.
  TOrvelDatabase folder(nullptr);
  folder.SetDatabaseName(dir_.path());
  FakeDataset reader;
  reader.database_name = dir_.path();
  reader.read_only = true;
  reader.Open();
  FakeDataset writer;
  writer.database_name = dir_.path();
  writer.Open();
  EXPECT_FALSE(writer.read_only);
  EXPECT_FALSE(folder.DatabaseManager()->ReadOnly());
}

TEST_F(DatabaseTest, KeepConnectionOffClosesADatabaseNobodyUses) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("MEMORY");
  database.Open();
  FakeDataset dataset;
  dataset.database_name = "MEMORY";
  dataset.Open();
  database.SetKeepConnection(false);
  EXPECT_TRUE(database.Connected());
  dataset.Close();
  EXPECT_FALSE(database.Connected());
  database.Open();
  database.SetKeepConnection(false);
  EXPECT_FALSE(database.Connected());
}

TEST_F(DatabaseTest, ConnectedFromAFormOpensOnLoaded) {
  TComponent form(nullptr);
  auto* database = new TOrvelDatabase(&form);
  database->Loading();
  database->SetDatabaseName("MEMORY");
  database->SetConnected(true);
  EXPECT_FALSE(database->Connected());
  database->Loaded();
  EXPECT_TRUE(database->Connected());
}

TEST_F(DatabaseTest, DesignedOwnersSwallowOpenFailuresAndMarkDesignTime) {
  EXPECT_FALSE(IsDesignTime());
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto* database = new TOrvelDatabase(&form);
  EXPECT_TRUE(IsDesignTime());
  database->SetDatabaseName(dir_.File("absent"));
  EXPECT_NO_THROW(database->Open());
  EXPECT_FALSE(database->Connected());

  // At design time a missing container is not created.
  database->SetDatabaseName("Db");
  database->SetDatabaseFileName(dir_.File("new.ovb"));
  EXPECT_NO_THROW(database->Open());
  EXPECT_FALSE(database->Connected());
  EXPECT_FALSE(std::ifstream(dir_.File("new.ovb")).good());

  database->SetDatabaseFileName("");
  database->SetDatabaseName("MEMORY");
  database->Open();
  database->SetDatabaseName("Other");  // closes instead of refusing
  EXPECT_FALSE(database->Connected());
}

TEST_F(DatabaseTest, CreateDatabaseNeedsAFileNameAClosedDatabaseAndAFolder) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("Db");
  EXPECT_EQ(MessageOf([&] { database.CreateDatabase(); }), "DatabaseFileName property is blank.");

  const std::string missing_dir = dir_.File("no/such");
  EXPECT_EQ(MessageOf([&] { database.CreateDatabase(missing_dir + "/x.ovb"); }),
            "TOrvelDatabaseManager.CreateDatabase - Cannot create database file \"" + missing_dir +
                "/x.ovb\" as the directory \"" + missing_dir + "\" does not exist");
  EXPECT_EQ(DatabaseManagers().Count(), 0);

  // "MEMORY" wins over a file name, so the database connects without a container.
  database.SetDatabaseName("MEMORY");
  database.SetDatabaseFileName(dir_.File("x.ovb"));
  database.Open();
  EXPECT_EQ(MessageOf([&] { database.CreateDatabase(); }),
            "CreateDatabase error. Database is connected.");
}

class ContainerDatabaseTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!testing::ContainersAvailable(dir_.File("probe.ovb")))
      GTEST_SKIP() << "the file layer cannot create containers yet";
  }
};

TEST_F(ContainerDatabaseTest, AMissingContainerIsCreatedOnOpenAndShared) {
  const std::string file = dir_.File("Scalora.ovb");
  TOrvelDatabase main(nullptr);
  main.SetDatabaseName("DBase");
  main.SetDatabaseFileName(file);
  main.Open();
  ASSERT_TRUE(main.Connected());
  EXPECT_TRUE(std::ifstream(file).good());
  EXPECT_FALSE(main.Encrypted());
  TOrvelDatabaseManager* manager = main.DatabaseManager();
  EXPECT_TRUE(manager->IsSingleFile());
  EXPECT_EQ(manager->StoreMode(), kStoreModeContainer);
  EXPECT_TRUE(manager->StoreExists());

  TOrvelDatabase second(nullptr);
  second.SetDatabaseName("Second");
  second.SetDatabaseFileName(file);
  second.Open();
  EXPECT_EQ(second.DatabaseManager(), manager);

  FakeDataset dataset;
  dataset.database_name = "DBase";
  dataset.table_file = "t.dat";
  dataset.Open();
  WriteText(dataset.File(), "stored");
  EXPECT_TRUE(manager->FileExists("T.DAT", kStoreModeOwn));
  second.Close();
  EXPECT_TRUE(dataset.DatasetActive());
  dataset.Close();
  main.Close();
  EXPECT_EQ(DatabaseManagers().Count(), 0);

  // Reopened from disk, the table file is still there.
  main.Open();
  EXPECT_TRUE(main.DatabaseManager()->FileExists("t.dat", kStoreModeOwn));
}

TEST_F(ContainerDatabaseTest, TheLocationsPasswordEncryptsAndOpensTheContainer) {
  const std::string file = dir_.File("secret.ovb");
  {
    TOrvelDatabase creator(nullptr);
    creator.SetDatabaseName("DBase");
    creator.SetDatabaseFileName(file);
    creator.SetPassword("secret");
    creator.Open();
    EXPECT_TRUE(creator.Encrypted());
    EXPECT_EQ(creator.Password(), "secret");
    creator.Close();
    EXPECT_TRUE(creator.Encrypted());  // read from the file's header now
  }
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("DBase");
  database.SetDatabaseFileName(file);
  for (const char* wrong : {"", "Secret"}) {
    database.SetPassword(wrong);
    EXPECT_EQ(MessageOf([&] { database.Open(); }),
              "TOrvelDatabase.Open - Invalid password or corrupted database file.");
    EXPECT_EQ(DatabaseManagers().Count(), 0);
  }
  database.SetPassword("secret");
  database.Open();
  EXPECT_TRUE(database.Connected());

  // An unencrypted container keeps no password.
  TOrvelDatabase plain(nullptr);
  plain.SetDatabaseName("Plain");
  plain.CreateDatabase(dir_.File("plain.ovb"));
  plain.SetPassword("unused");
  plain.Open();
  EXPECT_FALSE(plain.Encrypted());
  EXPECT_EQ(plain.Password(), "");
}

TEST_F(ContainerDatabaseTest, AnotherInMemoryValueOnAnOpenContainerIsRefused) {
  const std::string file = dir_.File("c.ovb");
  TOrvelDatabase disk(nullptr);
  disk.SetDatabaseName("Disk");
  disk.SetDatabaseFileName(file);
  disk.Open();
  TOrvelDatabase memory(nullptr);
  memory.SetDatabaseName("Memory copy");
  memory.SetDatabaseFileName(file);
  memory.SetInMemory(true);
  EXPECT_EQ(MessageOf([&] { memory.Open(); }),
            "TOrvelDatabaseManager.ConnectDatabase - database is already open with other "
            "in-memory mode value.");
  EXPECT_FALSE(memory.Connected());
  EXPECT_EQ(disk.DatabaseManager()->DatabaseList().size(), 1u);
}

TEST_F(ContainerDatabaseTest, TemporaryFilesGoBesideTheContainer) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("DBase");
  database.SetDatabaseFileName(dir_.File("c.ovb"));
  database.Open();
  TOrvelDatabaseManager* manager = database.DatabaseManager();
  TAbstractPlainFileSystem* temporary = manager->GetFileSystem(kStoreModeTemporary);
  ASSERT_NE(temporary, nullptr);
  EXPECT_EQ(temporary->Location(), dir_.path());
  TAbstractFile* file = manager->OpenFile("tmp.dat", kStoreModeTemporary, true, false);
  WriteText(file, "scratch");
  EXPECT_TRUE(manager->FileExists("tmp.dat", kStoreModeTemporary));
}

TEST_F(ContainerDatabaseTest, AnUnreadableContainerIsReportedAndLeavesNoManager) {
  const std::string file = dir_.File("garbage.ovb");
  std::ofstream(file) << std::string(5000, 'G');
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("DBase");
  database.SetDatabaseFileName(file);
  EXPECT_EQ(MessageOf([&] { database.Open(); }),
            "TOrvelDatabase.Open - Invalid password or corrupted database file.");
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(DatabaseManagers().Count(), 0);
}

TEST_F(ContainerDatabaseTest, AContainerHeldInMemoryLoadsTablesFromItself) {
  TOrvelDatabase database(nullptr);
  database.SetDatabaseName("DBase");
  database.SetDatabaseFileName(dir_.File("m.ovb"));
  database.SetInMemory(true);
  database.Open();
  ASSERT_TRUE(database.Connected());
  EXPECT_FALSE(std::ifstream(dir_.File("m.ovb")).good());
  TOrvelDatabaseManager* manager = database.DatabaseManager();
  EXPECT_TRUE(manager->InMemory());
  EXPECT_EQ(manager->GetFileSystem(kStoreModeMemory), manager->GetFileSystem(kStoreModeOwn));
  TAbstractFile* file = manager->OpenFile("t.dat", kStoreModeMemory, true, false);
  WriteText(file, "held");
  manager->CloseFile(file);
  database.Close();

  // The container stays in memory for the process, so opening again finds the table.
  database.Open();
  EXPECT_TRUE(database.DatabaseManager()->FileExists("t.dat", kStoreModeOwn));
}

}  // namespace
}  // namespace orv
