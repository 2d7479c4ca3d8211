#include "tests/support/fault_env.h"

#include <gtest/gtest.h>

#include "tests/files/file_test_helpers.h"
#include "tests/support/temp_dir.h"

namespace orv::testing {
namespace {

class FaultEnvTest : public ::testing::Test {
 protected:
  std::unique_ptr<OsFile> Make(const std::string& name, const std::string& text = "0123456789") {
    FileOpenOptions options;
    options.create = true;
    auto file = env_.Open(dir_.File(name), options);
    EXPECT_NE(file, nullptr);
    if (file) {
      EXPECT_EQ(file->WriteAt(0, text.data(), static_cast<int64_t>(text.size())),
                static_cast<int64_t>(text.size()));
    }
    return file;
  }
  static std::string Read(OsFile& file, int64_t offset, int64_t count) {
    std::string text(static_cast<size_t>(count), '\0');
    int64_t n = file.ReadAt(offset, text.data(), count);
    return n < 0 ? "<failed>" : text.substr(0, static_cast<size_t>(n));
  }

  TempDir dir_;
  FaultEnv env_;
};

TEST_F(FaultEnvTest, NthTransferCountsAcrossFilesOrPerFile) {
  auto a = Make("a");
  auto b = Make("b");
  env_.FailRead(2);             // the second read of any file
  env_.ShortenRead(2, 3, "b");  // the second read of b
  EXPECT_EQ(Read(*a, 0, 4), "0123");
  EXPECT_EQ(Read(*b, 0, 4), "<failed>");
  EXPECT_EQ(b->LastError(), EIO);
  EXPECT_EQ(Read(*b, 0, 4), "012");
  EXPECT_EQ(Read(*b, 0, 4), "0123");  // faults fire once

  env_.ShortenWrite(1, 2, "a");
  EXPECT_EQ(b->WriteAt(0, "xyz", 3), 3);
  EXPECT_EQ(a->WriteAt(0, "xyz", 3), 2);
  env_.FailWrite(1);
  EXPECT_EQ(a->WriteAt(0, "xyz", 3), -1);
  EXPECT_EQ(Read(*a, 0, 4), "xy23");
}

TEST_F(FaultEnvTest, DiskFullStopsGrowthAtTheLimit) {
  auto a = Make("a");
  env_.LimitFileSize(12, "a");
  EXPECT_EQ(a->WriteAt(0, "ABCD", 4), 4);  // rewriting inside the limit is fine
  EXPECT_EQ(a->WriteAt(8, "WXYZ", 4), 4);
  EXPECT_EQ(a->WriteAt(10, "WXYZ", 4), 2);
  EXPECT_EQ(a->WriteAt(12, "W", 1), -1);
  EXPECT_EQ(a->LastError(), ENOSPC);
  EXPECT_FALSE(a->Truncate(13));
  EXPECT_TRUE(a->Truncate(5));
  EXPECT_EQ(a->Size(), 5);
}

TEST_F(FaultEnvTest, FlippedBytes) {
  auto a = Make("a");
  env_.FlipByteOnRead("a", 1, 0x20);
  EXPECT_EQ(Read(*a, 0, 3),
            "0\x11"
            "2");
  EXPECT_EQ(Read(*a, 2, 3), "234");  // outside the transfer: untouched
  env_.ClearFaults();
  EXPECT_EQ(Read(*a, 0, 3), "012");  // the file kept its byte
  env_.FlipByteOnWrite("a", 6, 0x01);
  const std::string text = "abcdefgh";
  EXPECT_EQ(a->WriteAt(4, text.data(), 4), 4);
  env_.ClearFaults();
  EXPECT_EQ(Read(*a, 4, 4), "abbd");
  EXPECT_EQ(text, "abcdefgh");  // the caller's buffer is not changed
}

TEST_F(FaultEnvTest, CrashDropsEveryChangeAfterTheKthWrite) {
  auto a = Make("a");
  Make("b").reset();
  env_.DropWritesAfter(2);
  EXPECT_EQ(a->WriteAt(0, "A", 1), 1);
  EXPECT_FALSE(env_.Crashed());
  EXPECT_EQ(a->WriteAt(1, "B", 1), 1);
  EXPECT_TRUE(env_.Crashed());
  EXPECT_EQ(a->WriteAt(2, "C", 1), 1);  // reported, not done
  EXPECT_TRUE(a->Truncate(1));
  EXPECT_TRUE(env_.DeleteFile(dir_.File("b")));
  FileOpenOptions create;
  create.create = true;
  EXPECT_NE(env_.Open(dir_.File("a"), create), nullptr);
  EXPECT_EQ(ReadFileBytes(dir_.File("a")),
            std::vector<uint8_t>({'A', 'B', '2', '3', '4', '5', '6', '7', '8', '9'}));
  EXPECT_TRUE(env_.FileExists(dir_.File("b")));
}

TEST_F(FaultEnvTest, CountsPerFileAndRefusedOpens) {
  auto a = Make("a");
  auto b = Make("b");
  env_.ResetCounts();
  Read(*a, 0, 1);
  Read(*a, 0, 1);
  b->Size();
  b->Flush();
  env_.FileExists(dir_.File("a"));
  EXPECT_EQ(env_.Counts("a").reads, 2);
  EXPECT_EQ(env_.Counts("a").Syscalls(), 3);
  EXPECT_EQ(env_.Counts(dir_.File("b")).Syscalls(), 2);
  EXPECT_EQ(env_.Counts().Syscalls(), 5);

  env_.FailOpen("b");
  EXPECT_EQ(env_.Open(dir_.File("b"), {}), nullptr);
  EXPECT_EQ(env_.LastError(), EACCES);
  EXPECT_NE(env_.Open(dir_.File("a"), {}), nullptr);
}

}  // namespace
}  // namespace orv::testing
