#include "engine/files/osfs_huge_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/files/container_header.h"
#include "engine/files/little_endian.h"
#include "platform/exception.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using testing::FileSizeOf;
using testing::MessageOf;
using testing::NextPartNameOf;
using testing::PatternBytes;
using testing::ReadFileBytes;

class HugeFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "x") const { return dir_.File(name); }

  // A new file of 380-byte parts (100 data bytes each) holding bytes.
  std::unique_ptr<TOSFSHugeFile> Make(const std::vector<uint8_t>& bytes, Env* env = nullptr) {
    auto file = std::make_unique<TOSFSHugeFile>(Path(), 380, false, false, false, env);
    EXPECT_TRUE(file->Open(true));
    file->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return file;
  }

  std::vector<uint8_t> ReadAll(TOSFSHugeFile& file) {
    std::vector<uint8_t> bytes(static_cast<size_t>(file.GetSize()));
    file.Seek(0, 0);
    file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return bytes;
  }

  testing::TempDir dir_;
};

TEST_F(HugeFileTest, WritingSpreadsOverPartsThatNameEachOther) {
  const auto data = PatternBytes(250);
  Make(data).reset();
  EXPECT_EQ(FileSizeOf(Path("x")), 380);
  EXPECT_EQ(FileSizeOf(Path("x1")), 380);
  EXPECT_EQ(FileSizeOf(Path("x2")), 330);
  EXPECT_EQ(NextPartNameOf(Path("x")), "x1");
  EXPECT_EQ(NextPartNameOf(Path("x1")), "x2");
  EXPECT_EQ(NextPartNameOf(Path("x2")), "");
  auto raw = ReadFileBytes(Path("x1"));
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 8), "MVMVHFSS");
  EXPECT_EQ(LoadI64(raw.data() + 8), 380);

  TOSFSHugeFile file(Path(), -1);
  ASSERT_TRUE(file.Open(false));
  EXPECT_EQ(file.MaxPartSize(), 380);  // the stored size wins over the default
  EXPECT_EQ(file.GetSize(), 250);
  EXPECT_EQ(ReadAll(file), data);
}

TEST_F(HugeFileTest, ShrinkingDeletesTrailingParts) {
  const auto data = PatternBytes(250);
  auto file = Make(data);
  ASSERT_TRUE(file->SetSize(150));
  EXPECT_EQ(file->GetSize(), 150);
  EXPECT_EQ(file->GetPosition(), 150);
  EXPECT_EQ(FileSizeOf(Path("x2")), -1);
  EXPECT_EQ(FileSizeOf(Path("x1")), 330);
  EXPECT_EQ(NextPartNameOf(Path("x1")), "");
  file->Close();
  ASSERT_TRUE(file->Open(false));
  EXPECT_EQ(ReadAll(*file), std::vector<uint8_t>(data.begin(), data.begin() + 150));

  ASSERT_TRUE(file->SetSize(0));
  EXPECT_EQ(file->PartCount(), 1u);
  EXPECT_EQ(FileSizeOf(Path("x")), 280);
}

TEST_F(HugeFileTest, GrowingFillsWithZerosAcrossParts) {
  auto file = Make(PatternBytes(30));
  ASSERT_TRUE(file->SetSize(260));
  EXPECT_EQ(FileSizeOf(Path("x1")), 380);
  EXPECT_EQ(FileSizeOf(Path("x2")), 340);
  auto bytes = ReadAll(*file);
  EXPECT_TRUE(std::all_of(bytes.begin() + 30, bytes.end(), [](uint8_t b) { return b == 0; }));
  // Writing past the end first grows the file to the position.
  file->Seek(0, 400);
  EXPECT_EQ(file->Write("ab", 2), 2);
  EXPECT_EQ(file->GetSize(), 402);
  EXPECT_EQ(file->PartCount(), 5u);
}

TEST_F(HugeFileTest, PartSizeLimits) {
  struct Case {
    int64_t requested;
    int64_t expected;  // 0: refused
  } cases[] = {{379, 0}, {380, 380}, {0, INT32_MAX}, {-5, INT32_MAX}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested);
    if (c.expected == 0) {
      EXPECT_EQ(MessageOf([&] { TOSFSHugeFile file(Path(), c.requested); }),
                "File part size is too small. Minimal part size is 380");
    } else {
      EXPECT_EQ(TOSFSHugeFile(Path(), c.requested).MaxPartSize(), c.expected);
    }
  }
  EXPECT_GT(TOSFSHugeFile(Path(), -1).MaxPartSize(), 380);
}

// A first part of `prefix` foreign bytes, then a part header and a container signature.
std::vector<uint8_t> PrefixedPart(size_t prefix, size_t decoy_at = SIZE_MAX) {
  std::vector<uint8_t> bytes(prefix, 'M');
  TPartHeader header;
  header.MaxPartSize = 1 << 20;
  std::vector<uint8_t> part(TPartHeader::kSize);
  header.Encode(part.data());
  if (decoy_at < prefix) std::copy(part.begin(), part.end(), bytes.begin() + decoy_at);
  bytes.insert(bytes.end(), part.begin(), part.end());
  bytes.insert(bytes.end(), kContainerSignature, kContainerSignature + 8);
  bytes.insert(bytes.end(), {1, 2, 3, 4});
  return bytes;
}

TEST_F(HugeFileTest, FirstPartMayStartBehindForeignBytes) {
  // 65533 puts the signature across the first 65535-byte search block.
  for (size_t prefix : {size_t(0), size_t(1000), size_t(65533), size_t(70000)}) {
    SCOPED_TRACE(prefix);
    testing::WriteFileBytes(Path(), PrefixedPart(prefix, prefix > 400 ? 100 : SIZE_MAX));
    TOSFSHugeFile file(Path());
    ASSERT_TRUE(file.Open(false));
    EXPECT_EQ(file.Prefix(), static_cast<int64_t>(prefix));
    EXPECT_EQ(file.GetSize(), 12);
    char first[8];
    file.ReadBuffer(first, 8);
    EXPECT_EQ(std::string(first, 8), "MVSFSSGN");
    // Data written later lands behind the prefix, which stays untouched.
    file.Seek(2, 0);
    file.WriteBuffer("tail", 4);
    file.Close();
    auto raw = ReadFileBytes(Path());
    EXPECT_EQ(std::string(raw.end() - 4, raw.end()), "tail");
    EXPECT_TRUE(std::all_of(raw.begin(), raw.begin() + std::min<size_t>(prefix, 100),
                            [](uint8_t b) { return b == 'M'; }));
  }
}

TEST_F(HugeFileTest, ReadAndSeekBounds) {
  auto file = Make(PatternBytes(120));
  char buffer[16];
  file->Seek(0, 120);
  EXPECT_EQ(file->Read(buffer, 16), 0);
  file->Seek(2, -4);
  EXPECT_EQ(file->Read(buffer, 16), 4);
  file->Seek(0, 121);
  EXPECT_EQ(MessageOf([&] { file->Read(buffer, 1); }), "TOSFSHugeFile.Read - Stream read error.");
  EXPECT_EQ(MessageOf([&] { file->Seek(0, -1); }),
            "TOSFSHugeFile.Seek - Offset < 0 from file beginning.");
  EXPECT_THROW(file->Seek(1, -1000), Exception);
  EXPECT_THROW(file->Seek(1, INT64_MAX), Exception);
  file->Seek(0, 110);
  EXPECT_THROW(file->ReadBuffer(buffer, 16), Exception);
  EXPECT_EQ(MessageOf([&] { file->Open(false); }),
            "TOSFSHugeFile.InternalOpen - File is already open.");
}

TEST_F(HugeFileTest, CreatingDeletesTheOldChainButNothingElse) {
  Make(PatternBytes(250)).reset();
  testing::WriteFileBytes(Path("x3"), {1, 2, 3});  // not a part of the chain
  TOSFSHugeFile file(Path(), 1 << 20);
  ASSERT_TRUE(file.Open(true));
  EXPECT_EQ(FileSizeOf(Path("x1")), -1);
  EXPECT_EQ(FileSizeOf(Path("x2")), -1);
  EXPECT_EQ(FileSizeOf(Path("x3")), 3);
  EXPECT_EQ(file.GetSize(), 0);
}

TEST_F(HugeFileTest, CreatingOverAnExclusivelyHeldFileLeavesIt) {
  const auto data = PatternBytes(250);
  Make(data).reset();
  TOSFSHugeFile holder(Path(), -1, true);
  ASSERT_TRUE(holder.Open(false));
  TOSFSHugeFile other(Path(), 380);
  EXPECT_FALSE(other.Open(true));
  EXPECT_EQ(ReadAll(holder), data);
  EXPECT_EQ(FileSizeOf(Path("x")), 380);
}

TEST_F(HugeFileTest, ChainLinkToAFileThatIsNoPartIsNotFollowedWhenDeleting) {
  Make(PatternBytes(150)).reset();
  testing::WriteFileBytes(Path("notes"), {'k', 'e', 'e', 'p'});
  char name[] = "notes";
  testing::PatchFile(Path("x"), 16, name, sizeof name);
  TOSFSHugeFile file(Path(), 380);
  ASSERT_TRUE(file.Open(true));
  EXPECT_EQ(FileSizeOf(Path("notes")), 4);
}

TEST_F(HugeFileTest, NewPartNamesSkipFilesThatExist) {
  testing::WriteFileBytes(Path("x1"), {9});
  Make(PatternBytes(150)).reset();
  EXPECT_EQ(NextPartNameOf(Path("x")), "x2");
  EXPECT_EQ(ReadFileBytes(Path("x1")), std::vector<uint8_t>{9});
  TOSFSHugeFile file(Path());
  ASSERT_TRUE(file.Open(false));
  EXPECT_EQ(file.GetSize(), 150);
}

TEST_F(HugeFileTest, DamagedChainsOpenOnlyTolerantly) {
  const auto data = PatternBytes(300);  // three full parts
  struct Case {
    const char* what;
    std::function<void(const testing::TempDir&)> damage;
    int64_t tolerant_size;
  } cases[] = {
      {"middle part missing",
       [](const testing::TempDir& t) { std::filesystem::remove(t.File("x1")); }, 100},
      {"last part missing",
       [](const testing::TempDir& t) { std::filesystem::remove(t.File("x2")); }, 200},
      {"middle signature",
       [](const testing::TempDir& t) { testing::PatchFile(t.File("x1"), 0, "XX", 2); }, 100},
      {"middle part size",
       [](const testing::TempDir& t) {
         uint8_t size[8];
         StoreI64(size, 381);
         testing::PatchFile(t.File("x1"), 8, size, 8);
       },
       100},
      {"short middle part",
       [](const testing::TempDir& t) { std::filesystem::resize_file(t.File("x1"), 330); }, 150},
      {"cycle", [](const testing::TempDir& t) { testing::PatchFile(t.File("x2"), 16, "x1", 3); },
       300},
      {"name with a folder",
       [](const testing::TempDir& t) { testing::PatchFile(t.File("x1"), 16, "../x2", 6); }, 100},
      {"unterminated name",
       [](const testing::TempDir& t) {
         testing::PatchFile(t.File("x1"), 16, std::string(261, 'a').data(), 261);
       },
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Make(data).reset();
    c.damage(dir_);
    TOSFSHugeFile strict(Path());
    EXPECT_FALSE(strict.Open(false));
    EXPECT_EQ(strict.PartCount(), 0u);
    TOSFSHugeFile tolerant(Path());
    ASSERT_TRUE(tolerant.Open(false, true));
    ASSERT_EQ(tolerant.GetSize(), c.tolerant_size);
    EXPECT_EQ(ReadAll(tolerant),
              std::vector<uint8_t>(data.begin(), data.begin() + c.tolerant_size));
    std::filesystem::remove_all(dir_.path());
    std::filesystem::create_directory(dir_.path());
  }
}

TEST_F(HugeFileTest, FirstPartMustBeAPart) {
  for (const std::vector<uint8_t>& bytes :
       {std::vector<uint8_t>{}, std::vector<uint8_t>(279, 0), PatternBytes(4096)}) {
    testing::WriteFileBytes(Path(), bytes);
    TOSFSHugeFile file(Path());
    EXPECT_FALSE(file.Open(false, true));
    EXPECT_FALSE(file.IsOpen());
  }
  TOSFSHugeFile missing(Path("none"));
  EXPECT_FALSE(missing.Open(false, true));
}

TEST_F(HugeFileTest, DeleteLastPartFile) {
  auto file = Make(PatternBytes(250));
  file->DeleteLastPartFile();
  EXPECT_EQ(FileSizeOf(Path("x2")), -1);
  EXPECT_EQ(NextPartNameOf(Path("x1")), "");
  EXPECT_EQ(file->GetSize(), 200);
  file->DeleteLastPartFile();
  EXPECT_EQ(MessageOf([&] { file->DeleteLastPartFile(); }),
            "TOSFSHugeFile.DeleteLastPartFile - No parts to delete.");
}

TEST_F(HugeFileTest, InMemoryFileNeverTouchesTheDisk) {
  Make(PatternBytes(150)).reset();
  const auto on_disk_x = ReadFileBytes(Path("x"));
  {
    // Starts as a copy of the chain on disk; changes stay in memory and survive Close.
    TOSFSHugeFile file(Path(), -1, false, false, true);
    ASSERT_TRUE(file.Open(false));
    EXPECT_EQ(file.GetSize(), 150);
    file.Seek(0, 0);
    file.WriteBuffer(PatternBytes(300, 7).data(), 300);
    EXPECT_EQ(file.PartCount(), 3u);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(false));
    EXPECT_EQ(ReadAll(file), PatternBytes(300, 7));
    file.Close();
    ASSERT_TRUE(file.Open(true));
    EXPECT_EQ(file.GetSize(), 0);
  }
  EXPECT_EQ(ReadFileBytes(Path("x")), on_disk_x);
  EXPECT_EQ(FileSizeOf(Path("x2")), -1);
  EXPECT_EQ(FileSizeOf(Path("x3")), -1);
}

TEST_F(HugeFileTest, RandomTransfersMatchAModel) {
  for (bool in_memory : {false, true}) {
    SCOPED_TRACE(in_memory);
    TOSFSHugeFile file(Path(), 380, false, false, in_memory);
    ASSERT_TRUE(file.Open(true));
    std::vector<uint8_t> model;
    std::mt19937 random(42);
    for (int step = 0; step < 300; ++step) {
      const int64_t offset = random() % 700;
      const int64_t count = random() % 260;
      switch (random() % 4) {
        case 0:
        case 1: {
          const auto bytes = PatternBytes(count, step);
          file.Seek(0, offset);
          ASSERT_EQ(file.Write(bytes.data(), count), count);
          if (count > 0 && model.size() < size_t(offset + count)) model.resize(offset + count);
          std::copy(bytes.begin(), bytes.end(), model.begin() + offset);
          break;
        }
        case 2:
          if (random() % 3 == 0) {
            ASSERT_TRUE(file.SetSize(offset));
            model.resize(offset);
          }
          break;
        default: {
          if (offset > file.GetSize()) break;
          std::vector<uint8_t> bytes(count);
          file.Seek(0, offset);
          const int64_t n = file.Read(bytes.data(), count);
          ASSERT_EQ(n, std::min<int64_t>(count, model.size() - offset));
          ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + n, model.begin() + offset));
        }
      }
      ASSERT_EQ(file.GetSize(), static_cast<int64_t>(model.size()));
    }
    if (!in_memory) {
      file.Close();
      ASSERT_TRUE(file.Open(false));
    }
    EXPECT_EQ(ReadAll(file), model);
  }
}

TEST_F(HugeFileTest, EachPartChunkIsOneTransfer) {
  testing::FaultEnv env;
  auto file = Make(PatternBytes(250), &env);
  env.ResetCounts();
  std::vector<uint8_t> bytes(250);
  file->Seek(0, 0);
  file->ReadBuffer(bytes.data(), 250);
  file->Seek(0, 50);
  file->WriteBuffer(bytes.data(), 100);
  const auto counts = env.Counts();
  EXPECT_EQ(counts.reads, 3);
  EXPECT_EQ(counts.writes, 2);
  EXPECT_EQ(counts.Syscalls(), 5);
}

TEST_F(HugeFileTest, FileLayerFailuresEndTransfersEarly) {
  const auto data = PatternBytes(250);
  struct Case {
    const char* what;
    std::function<void(testing::FaultEnv&)> fault;
    int64_t written;
    bool lasting;
  } cases[] = {
      {"disk full in x1", [](testing::FaultEnv& e) { e.LimitFileSize(300, "x1"); }, 120, true},
      {"x2 cannot be made", [](testing::FaultEnv& e) { e.FailOpen("x2"); }, 200, true},
      // The first write to x1 is its part header.
      {"short write", [](testing::FaultEnv& e) { e.ShortenWrite(2, 10, "x1"); }, 110, false},
      {"failed write", [](testing::FaultEnv& e) { e.FailWrite(1, "x"); }, 0, false},
      {"part header of x2", [](testing::FaultEnv& e) { e.FailWrite(1, "x2"); }, 200, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FaultEnv env;
    TOSFSHugeFile file(Path(), 380, false, false, false, &env);
    ASSERT_TRUE(file.Open(true));
    c.fault(env);
    EXPECT_EQ(file.Write(data.data(), 250), c.written);
    EXPECT_EQ(file.GetSize(), c.written);
    file.Seek(0, 0);
    if (c.lasting) {
      EXPECT_THROW(file.WriteBuffer(data.data(), 250), Exception);
    }
  }
}

TEST_F(HugeFileTest, FailedGrowthReportsTheSizeReached) {
  testing::FaultEnv env;
  auto file = Make(PatternBytes(50), &env);
  env.LimitFileSize(330, "x1");
  EXPECT_FALSE(file->SetSize(250));
  // x grew to its full size, x1 was made but could not grow.
  EXPECT_EQ(file->GetSize(), 100);
  EXPECT_EQ(file->GetPosition(), 100);
  EXPECT_EQ(FileSizeOf(Path("x1")), 280);
  env.ClearFaults();
  EXPECT_TRUE(file->SetSize(250));
  EXPECT_EQ(file->GetSize(), 250);
}

TEST_F(HugeFileTest, ShortReadInTheMiddleStopsTheRead) {
  testing::FaultEnv env;
  auto file = Make(PatternBytes(250), &env);
  env.ShortenRead(1, 30, "x1");
  std::vector<uint8_t> bytes(250);
  file->Seek(0, 0);
  EXPECT_EQ(file->Read(bytes.data(), 250), 130);
  EXPECT_EQ(file->GetPosition(), 130);
}

}  // namespace
}  // namespace orv
