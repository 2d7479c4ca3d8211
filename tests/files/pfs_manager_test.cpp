#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/orv_exception.h"
#include "engine/files/disk_plain_file_system.h"
#include "engine/files/memory_plain_file_system.h"
#include "engine/files/pfs_manager.h"
#include "engine/files/temporary_plain_file_system.h"
#include "platform/exception.h"
#include "tests/files/plain_fs_fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::PlainFsFaultEnv;
using testing::TempDir;
using ::testing::ThrowsMessage;

// Stands in for the container kind: remembers what it was asked for and how many live.
class FakeContainer : public TAbstractPlainFileSystem {
 public:
  explicit FakeContainer(TContainerPFSRequest request)
      : TAbstractPlainFileSystem(request.location, kStoreModeContainer),
        request_(std::move(request)) {
    ++live;
  }
  ~FakeContainer() override { --live; }

  const TContainerPFSRequest& request() const { return request_; }
  bool ReadOnly() const override { return request_.read_only; }
  TAbstractFile* OpenFile(const std::string&, bool, bool, bool) override { return nullptr; }
  bool DeleteFile(const std::string&) override { return false; }
  bool RenameFile(const std::string&, const std::string&) override { return false; }
  bool FileExists(const std::string&) override { return false; }
  void FindFiles(const std::string&, std::vector<std::string>* list) override { list->clear(); }

  static inline int live = 0;

 private:
  TContainerPFSRequest request_;
};

class PFSManagerTest : public ::testing::Test {
 protected:
  PFSManagerTest() {
    manager_.SetContainerFactory([this](const TContainerPFSRequest& request) {
      ++factory_calls_;
      if (request.password == "wrong")
        throw Exception("TOSingleFileSystem.Create - invalid password specified");
      return std::make_unique<FakeContainer>(request);
    });
    Env::Default()->Open(container_, FileOpenOptions{.create = true});
  }

  TAbstractPlainFileSystem* Get(const std::string& location, uint8_t store_mode,
                                bool* read_only = nullptr, const std::string& password = "") {
    bool unused = false;
    return manager_.GetPFSHandle(location, password, dfmNormal, false,
                                 read_only ? *read_only : unused, store_mode);
  }
  const FakeContainer* GetContainer(bool* read_only, const std::string& location = "") {
    return dynamic_cast<const FakeContainer*>(
        Get(location.empty() ? container_ : location, kStoreModeContainer, read_only));
  }

  TempDir dir_;
  std::string container_ = dir_.File("Data.ovb");
  PlainFsFaultEnv env_;
  TPFSManager manager_{&env_};
  int factory_calls_ = 0;
};

TEST_F(PFSManagerTest, SharesOnePlainFileSystemPerLocationAndStoreMode) {
  struct Case {
    uint8_t store_mode;
    std::string location;
    std::string other_case;
  };
  for (const Case& c : {Case{kStoreModeDisk, dir_.File("Tables"), dir_.File("TABLES")},
                        Case{kStoreModeMemory, "Memory", "mEMORY"},
                        Case{kStoreModeTemporary, dir_.File("Tables"), dir_.File("tables")}}) {
    SCOPED_TRACE(c.location);
    TAbstractPlainFileSystem* pfs = Get(c.location, c.store_mode);
    ASSERT_NE(pfs, nullptr);
    EXPECT_EQ(pfs->StoreMode(), c.store_mode);
    EXPECT_EQ(Get(c.other_case, c.store_mode), pfs);
  }
  // One location in two modes is two stores.
  TAbstractPlainFileSystem* disk = Get(dir_.File("Tables"), kStoreModeDisk);
  TAbstractPlainFileSystem* temporary = Get(dir_.File("Tables"), kStoreModeTemporary);
  EXPECT_NE(disk, temporary);
  EXPECT_NE(dynamic_cast<TTemporaryPlainFileSystem*>(temporary), nullptr);
  EXPECT_NE(dynamic_cast<TMemoryPlainFileSystem*>(Get("Memory", kStoreModeMemory)), nullptr);
}

TEST_F(PFSManagerTest, UnsupportedStoreModeGivesNil) {
  for (uint8_t store_mode : {kStoreModeOwn, uint8_t{5}, uint8_t{255}}) {
    EXPECT_EQ(Get(dir_.path(), store_mode), nullptr);
    EXPECT_EQ(manager_.LastErrorMessage(),
              "TPFSManager.GetPFSHandle - Unsuuported file store mode.");
  }
  ASSERT_NE(Get(dir_.path(), kStoreModeDisk), nullptr);
  EXPECT_THAT(manager_.LastErrorMessage(), IsEmpty());
}

TEST_F(PFSManagerTest, MissingContainerGivesNilAndCreatesNothing) {
  bool read_only = false;
  std::string missing = dir_.File("missing.ovb");
  EXPECT_EQ(GetContainer(&read_only, missing), nullptr);
  EXPECT_FALSE(Env::Default()->FileExists(missing));
  EXPECT_EQ(factory_calls_, 0);
  EXPECT_THAT(manager_.LastErrorMessage(), HasSubstr("does not exist"));
}

TEST_F(PFSManagerTest, ContainerIsSharedWithoutRegardToCase) {
  bool read_only = false;
  const FakeContainer* pfs = GetContainer(&read_only);
  ASSERT_NE(pfs, nullptr);
  EXPECT_EQ(pfs->request().location, container_);
  EXPECT_FALSE(pfs->request().create);
  EXPECT_EQ(pfs->request().env, &env_);
  std::string upper = dir_.path() + "/DATA.OVB";
  EXPECT_EQ(GetContainer(&read_only, upper), pfs);
  EXPECT_EQ(factory_calls_, 1);
}

TEST_F(PFSManagerTest, ContainerThatCannotBeWrittenOpensReadOnly) {
  struct Case {
    const char* what;
    bool requested;
    bool attribute;
    bool writable_open_fails;
    bool attributes_cannot_be_set;
    bool expected;
  };
  for (Case c : {Case{"writable", false, false, false, false, false},
                 Case{"requested", true, false, false, false, true},
                 Case{"read-only attribute", false, true, false, false, true},
                 Case{"no writable open", false, false, true, false, true},
                 Case{"attributes locked", false, false, false, true, true}}) {
    SCOPED_TRACE(c.what);
    manager_.ReleasePFS(container_);
    env_.read_only_paths.clear();
    if (c.attribute) env_.read_only_paths.insert(container_);
    env_.fail_writable_open = c.writable_open_fails;
    env_.fail_set_read_only = c.attributes_cannot_be_set;
    bool read_only = c.requested;
    const FakeContainer* pfs = GetContainer(&read_only);
    ASSERT_NE(pfs, nullptr);
    EXPECT_EQ(pfs->request().read_only, c.expected);
    EXPECT_EQ(read_only, c.expected);
    // A later caller that asked for writing learns the store is read-only.
    bool later = false;
    EXPECT_EQ(GetContainer(&later), pfs);
    EXPECT_EQ(later, c.expected);
  }
}

TEST_F(PFSManagerTest, ContainerErrorsGiveNil) {
  bool read_only = false;
  EXPECT_EQ(Get(container_, kStoreModeContainer, &read_only, "wrong"), nullptr);
  EXPECT_THAT(manager_.LastErrorMessage(), HasSubstr("invalid password"));
  // Nothing was kept: the next request tries again.
  EXPECT_NE(Get(container_, kStoreModeContainer, &read_only, "right"), nullptr);
  EXPECT_EQ(factory_calls_, 2);

  TPFSManager without_containers(&env_);
  EXPECT_EQ(without_containers.GetPFSHandle(container_, "", dfmNormal, false, read_only,
                                            kStoreModeContainer),
            nullptr);
  EXPECT_THAT(without_containers.LastErrorMessage(), HasSubstr("not available"));
  EXPECT_FALSE(without_containers.CreateContainer(container_, "", dfmNormal, false));
}

TEST_F(PFSManagerTest, CreateContainerClosesTheNewFileUnlessInMemory) {
  bool read_only = false;
  const FakeContainer* open = GetContainer(&read_only);
  ASSERT_NE(open, nullptr);
  int live = FakeContainer::live;

  // The open one of that location makes way for the new file, which is closed again at once.
  EXPECT_TRUE(manager_.CreateContainer(container_, "pw", dfmLarge, false));
  EXPECT_EQ(FakeContainer::live, live - 1);
  EXPECT_EQ(factory_calls_, 2);

  std::string in_memory = dir_.File("memory.ovb");
  EXPECT_TRUE(manager_.CreateContainer(in_memory, "pw", dfmCompact, true));
  const FakeContainer* kept = GetContainer(&read_only, in_memory);
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(kept->request().create);
  EXPECT_TRUE(kept->request().in_memory);
  EXPECT_EQ(kept->request().file_mode, dfmCompact);
  EXPECT_EQ(kept->request().password, "pw");
  EXPECT_EQ(factory_calls_, 3);

  EXPECT_FALSE(manager_.CreateContainer(in_memory, "wrong", dfmNormal, true));
  EXPECT_THAT(manager_.LastErrorMessage(), HasSubstr("invalid password"));
}

TEST_F(PFSManagerTest, ReleaseFreesOnlyTheContainer) {
  bool read_only = false;
  ASSERT_NE(GetContainer(&read_only), nullptr);
  TAbstractPlainFileSystem* disk = Get(container_, kStoreModeDisk);
  int live = FakeContainer::live;
  manager_.ReleasePFS(dir_.path() + "/data.OVB");
  EXPECT_EQ(FakeContainer::live, live - 1);
  EXPECT_EQ(Get(container_, kStoreModeDisk), disk);
  manager_.ReleasePFS(container_);  // nothing left to release
}

TEST_F(PFSManagerTest, LockNestsAndBelongsToItsThread) {
  manager_.Lock();
  manager_.Lock();
  EXPECT_EQ(manager_.LockDepth(), 2);
  std::thread other([&] { EXPECT_THROW(manager_.Unlock(), Exception); });
  other.join();
  manager_.Unlock();
  manager_.Unlock();
  EXPECT_EQ(manager_.LockDepth(), 0);
  EXPECT_THAT([&] { manager_.Unlock(); },
              ThrowsMessage<Exception>(HasSubstr("TPFSManager.Unlock")));
}

TEST_F(PFSManagerTest, ThreadsAskingForOneLocationGetOnePlainFileSystem) {
  constexpr int kThreads = 8;
  std::vector<TAbstractPlainFileSystem*> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      bool read_only = false;
      got[i] = manager_.GetPFSHandle(i % 2 ? "shared" : "SHARED", "", dfmNormal, false, read_only,
                                     kStoreModeMemory);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_NE(got[0], nullptr);
  for (TAbstractPlainFileSystem* pfs : got) EXPECT_EQ(pfs, got[0]);
}

TEST(PFSManagerInstanceTest, ExistsBetweenCreateAndFree) {
  EXPECT_THAT(
      [] { TPFSManager::Instance(); },
      ThrowsMessage<EOrvException>("Orvabase Engine is not initialized - Native error: 01077"));
  TPFSManager& created = TPFSManager::CreateInstance();
  EXPECT_EQ(&TPFSManager::Instance(), &created);
  EXPECT_THROW(TPFSManager::CreateInstance(), Exception);
  TPFSManager::FreeInstance();
  EXPECT_THROW(TPFSManager::Instance(), EOrvException);
  TPFSManager::FreeInstance();
}

}  // namespace
}  // namespace orv
