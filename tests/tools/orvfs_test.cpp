#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/files/free_space_manager.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"
#include "engine/protect/checksum.h"
#include "platform/codepage.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"
#include "tools/orvfs_cli.h"

namespace orv {
namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using testing::FaultEnv;
using testing::FileSizeOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::PatternBytes;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Bytes AsBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

class OrvfsTest : public ::testing::Test {
 protected:
  OrvfsTest() { ::unsetenv("ORVFS_PASSWORD"); }

  Result Run(std::vector<std::string> args, Env* env = nullptr) {
    std::ostringstream out, err;
    const int status = RunOrvfs(args, out, err, env);
    return {status, out.str(), err.str()};
  }
  // Runs a command that must succeed.
  std::string Ok(std::vector<std::string> args) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(args) << ": " << r.err;
    return r.out;
  }
  std::string Local(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_.File(name);
    WriteFileBytes(path, bytes);
    return path;
  }
  // The stored file's bytes through get into a local file, or nullopt when get fails.
  std::optional<Bytes> Get(const std::string& container, const std::string& path,
                           const std::vector<std::string>& extra = {}) {
    const std::string local = dir_.File("got");
    std::vector<std::string> args{"get", container, path, local};
    args.insert(args.end(), extra.begin(), extra.end());
    std::remove(local.c_str());
    Result r = Run(args);
    if (r.status != 0) {
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err, HasSubstr("orvfs: get: "));
      return std::nullopt;
    }
    return ReadFileBytes(local);
  }
  void ExpectClean(const std::string& container, const std::string& password = {}) {
    Result r = Run({"check", container, "--password", password});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, IsEmpty());
  }

  TempDir dir_;
  std::string container_ = dir_.File("c.ovb");
};

TEST_F(OrvfsTest, FilesRoundTripInEveryLayout) {
  struct Case {
    const char* mode;
    TDatabaseFileMode layout;
    const char* password;
    bool small_parts;
  };
  const Case cases[] = {
      {"compact", dfmCompact, "", true}, {"compact", dfmCompact, "pw", true},
      {"normal", dfmNormal, "", true},   {"normal", dfmNormal, "пароль", true},
      {"large", dfmLarge, "", true},     {"large", dfmLarge, "pw", true},
      {"normal", dfmNormal, "", false},  {"large", dfmLarge, "pw", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.mode << " password '" << c.password << "' "
                                      << (c.small_parts ? "small parts" : "one part"));
    const std::string container =
        dir_.File(std::string("c-") + c.mode + c.password + (c.small_parts ? "-small" : ""));
    const int32_t page_size = PageLayoutOf(c.layout).PageSize;
    const size_t payload = size_t(page_size) - 32;
    std::vector<std::string> create{"create", container,    "--mode",
                                    c.mode,   "--password", c.password};
    if (c.small_parts) {
      create.push_back("--part-size");
      create.push_back(std::to_string(4 * page_size + 280));
    }
    Ok(create);
    const std::vector<size_t> sizes{0, 1, 3 * payload, 3 * payload + 1};
    for (size_t i = 0; i < sizes.size(); ++i)
      Ok({"put", container, Local("f" + std::to_string(i), PatternBytes(sizes[i], i + 1)),
          "dir/f" + std::to_string(i), "--password", c.password});
    for (size_t i = 0; i < sizes.size(); ++i)
      EXPECT_EQ(Get(container, "dir/f" + std::to_string(i), {"--password", c.password}),
                PatternBytes(sizes[i], i + 1))
          << sizes[i] << " bytes";
    const std::string info = Ok({"info", container});
    EXPECT_THAT(info, HasSubstr("page size: " + std::to_string(page_size) + "\n"));
    EXPECT_THAT(info, HasSubstr(std::string("encrypted: ") + (*c.password ? "yes" : "no")));
    if (c.small_parts) {
      EXPECT_GT(FileSizeOf(container + "2"), 0);
      EXPECT_THAT(info, Not(HasSubstr("parts: 1\n")));
    }
    ExpectClean(container, c.password);

    Ok({"rm", container, "dir/f1", "--password", c.password});
    Ok({"mv", container, "dir/f2", "/moved", "--password", c.password});
    Ok({"mv", container, "dir/f3", "dir/F3", "--password", c.password});
    ExpectClean(container, c.password);
    EXPECT_EQ(Get(container, "dir/f1", {"--password", c.password}), std::nullopt);
    EXPECT_EQ(Get(container, "moved", {"--password", c.password}), PatternBytes(sizes[2], 3));
    EXPECT_EQ(Get(container, "dir/f3", {"--password", c.password}), PatternBytes(sizes[3], 4));
    // Space freed by the delete is taken again.
    Ok({"put", container, dir_.File("f3"), "dir/again", "--password", c.password});
    EXPECT_EQ(Get(container, "dir/again", {"--password", c.password}), PatternBytes(sizes[3], 4));
    ExpectClean(container, c.password);
  }
}

TEST_F(OrvfsTest, SixtyFourMebibytesRoundTrip) {
  const Bytes big = PatternBytes(64 << 20, 7);
  const std::string local = Local("big", big);
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(password);
    std::remove(container_.c_str());
    Ok({"create", container_, "--password", password});
    Ok({"put", container_, local, "--password", password});
    const std::string out = Ok({"get", container_, "big", "-", "--password", password});
    EXPECT_TRUE(out.size() == big.size() && std::memcmp(out.data(), big.data(), big.size()) == 0);
    ExpectClean(container_, password);
  }
}

TEST_F(OrvfsTest, ListsItemsWithKindSizeTimeAndName) {
  Ok({"create", container_});
  Ok({"put", container_, Local("a.dat", AsBytes("hello")), "/"});
  Ok({"put", container_, Local("модель.dat", AsBytes("x")), "sub/"});
  const std::string root = Ok({"ls", container_});
  EXPECT_THAT(root, ContainsRegex("^-            5 [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:"
                                  "[0-9]{2}Z a\\.dat\n"));
  EXPECT_THAT(root, ContainsRegex("\nd            0 [-0-9T:]+Z sub\n$"));
  EXPECT_THAT(Ok({"ls", container_, "SUB"}), HasSubstr(" модель.dat\n"));
  EXPECT_THAT(Ok({"ls", container_, "/sub/МОДЕЛЬ.dat"}), HasSubstr(" 1 "));
  // Stored in the engine's code page.
  TOSingleFileSystem fs(container_, kOpenModeReadShared, false, "", "", "", 0, 0);
  EXPECT_TRUE(fs.FileExists(Utf8ToCp1251("sub\\модель.dat")));

  Result missing = Run({"ls", container_, "nothing"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("nothing: not found"));
}

TEST_F(OrvfsTest, InfoTellsTheHeader) {
  Ok({"create", container_, "--mode", "large", "--password", "pw"});
  Ok({"put", container_, Local("a", AsBytes("abc")), "--password", "pw"});
  // The part size is the volume's default.
  EXPECT_THAT(Ok({"info", container_}),
              ContainsRegex("^version: 2.13\npage size: 8192\nextent pages: 16\npage count: 17\n"
                            "dir items: 1\nencrypted: yes\nparts: 1\npart size: [0-9]+\n$"));
}

TEST_F(OrvfsTest, PasswordComesFromTheOptionOrTheEnvironment) {
  Ok({"create", container_, "--password", "secret"});
  Ok({"put", container_, Local("a", AsBytes("abc")), "--password", "secret"});
  Result wrong = Run({"ls", container_});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_THAT(wrong.err, HasSubstr("invalid password"));
  ::setenv("ORVFS_PASSWORD", "secret", 1);
  EXPECT_EQ(Get(container_, "a"), AsBytes("abc"));
  EXPECT_EQ(Run({"ls", container_, "--password", "other"}).status, 1);
  ::unsetenv("ORVFS_PASSWORD");
  EXPECT_EQ(Run({"check", container_, "--password", "bad"}).status, 1);
  Result lossy = Run({"ls", container_, "--password", "ключ🔑"});
  EXPECT_EQ(lossy.status, 1);
  EXPECT_THAT(lossy.err, HasSubstr("code page 1251"));
}

TEST_F(OrvfsTest, PutReplacesAndRefusesWhatItCannotStore) {
  Ok({"create", container_, "--mode", "compact"});
  Ok({"put", container_, Local("a", PatternBytes(5000, 1)), "x"});
  Ok({"put", container_, Local("b", PatternBytes(100, 2)), "x"});
  EXPECT_EQ(Get(container_, "x"), PatternBytes(100, 2));
  EXPECT_THAT(Ok({"ls", container_}), AllOf(HasSubstr(" x\n"), Not(HasSubstr("~orvfs"))));
  ExpectClean(container_);

  struct Case {
    std::string local;
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {dir_.File("none"), "y", "cannot open"},
      {dir_.path(), "y", "is a folder"},
      {dir_.File("a"), "x/y", "is not a folder"},
      {dir_.File("a"), std::string(260, 'n'), "longer than 259"},
      {dir_.File("a"), "emoji🙂", "code page 1251"},
      {dir_.File("a"), "sub/..", "not a valid name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Result r = Run({"put", container_, c.local, c.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(c.message));
  }
  EXPECT_EQ(Get(container_, "x"), PatternBytes(100, 2));
  ExpectClean(container_);
}

TEST_F(OrvfsTest, GetToStandardOutputAndIntoAFolder) {
  Ok({"create", container_});
  Ok({"put", container_, Local("a", PatternBytes(9000, 3)), "sub/a.bin"});
  EXPECT_EQ(AsBytes(Ok({"get", container_, "sub/a.bin", "-"})), PatternBytes(9000, 3));
  const std::string folder = dir_.File("out");
  ASSERT_TRUE(Env::Default()->CreateDirectory(folder));
  Ok({"get", container_, "/sub/A.BIN", folder});
  EXPECT_EQ(ReadFileBytes(folder + "/a.bin"), PatternBytes(9000, 3));
  for (const char* path : {"sub", "/", "nothing"}) {
    SCOPED_TRACE(path);
    Result r = Run({"get", container_, path, "-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, IsEmpty());
  }
}

TEST_F(OrvfsTest, RemoveAndMove) {
  Ok({"create", container_});
  Ok({"put", container_, Local("a", AsBytes("A")), "d/a"});
  Ok({"put", container_, Local("b", AsBytes("B")), "b"});
  EXPECT_EQ(Run({"rm", container_, "d"}).status, 1);  // not empty
  EXPECT_EQ(Run({"mv", container_, "b", "d/a"}).status, 1);
  Ok({"mv", container_, "b", "d"});
  EXPECT_EQ(Get(container_, "d/b"), AsBytes("B"));
  Ok({"mv", container_, "d", "e/f/"});
  EXPECT_EQ(Get(container_, "e/f/d/a"), AsBytes("A"));
  EXPECT_EQ(Run({"mv", container_, "e", "e/f/g"}).status, 1);  // below itself
  for (const char* path : {"e/f/d/a", "e/f/d/b", "e/f/d", "e/f", "e"}) Ok({"rm", container_, path});
  EXPECT_EQ(Ok({"ls", container_}), "");
  EXPECT_EQ(Run({"rm", container_, "e"}).status, 1);
  ExpectClean(container_);
}

TEST_F(OrvfsTest, CreateKeepsAnExistingFile) {
  WriteFileBytes(container_, AsBytes("precious"));
  Result r = Run({"create", container_});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("already exists"));
  EXPECT_EQ(ReadFileBytes(container_), AsBytes("precious"));
  Result tiny = Run({"create", dir_.File("t.ovb"), "--part-size", "379"});
  EXPECT_EQ(tiny.status, 1);
  EXPECT_THAT(tiny.err, HasSubstr("Minimal part size is 380"));
}

TEST_F(OrvfsTest, LeaksAreWarningsAndCheckChangesNothing) {
  Ok({"create", container_, "--mode", "compact"});
  Ok({"put", container_, Local("a", PatternBytes(3000, 1))});
  {
    TOSingleFileSystem fs(container_, kOpenModeReadWriteDenyWrite, false, "", "", "", 0, 0);
    std::vector<int32_t> pages;
    ASSERT_TRUE(fs.FreeSpace().GetPages(2, 0, pages, false));
  }
  const Bytes before = ReadFileBytes(container_);
  Result r = Run({"check", container_});
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.err, HasSubstr("orvfs: check: warning: leaked: "));
  EXPECT_THAT(r.out, HasSubstr("live items"));
  Ok({"ls", container_});
  EXPECT_TRUE(Get(container_, "a"));
  EXPECT_EQ(ReadFileBytes(container_), before);
}

TEST_F(OrvfsTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"ls"},
      {"ls", "c", "p", "extra"},
      {"get", "c"},
      {"put", "c", "f", "p", "x"},
      {"mv", "c", "a"},
      {"create", "c", "--mode", "tiny"},
      {"create", "c", "--part-size", "abc"},
      {"create", "c", "--part-size", "-5"},
      {"create", "c", "--part-size=99999999999999999999"},
      {"create", "c", "--password"},
      {"ls", "c", "--mode", "compact"},
      {"check", "c", "--verbose"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Result r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("usage:"));
  }
  EXPECT_FALSE(Env::Default()->FileExists("c"));
  EXPECT_THAT(Ok({"--help"}), HasSubstr("orvfs check  CONTAINER"));
}

// One byte of a used page whose change a reader or the checker must notice.
struct Flip {
  int32_t page_no;
  int32_t offset;  // in the page
  uint8_t mask;
  std::string owner;  // the stored file whose data page it is, or empty
  std::string what;
};

// Every used page of a small container with a sample of the bytes that carry meaning: the
// container header, each page header's checksum, type, encryption and checksum-type bytes, the
// link of a chained page that is followed, and bytes across the payload that is written. The
// rest of a page (header bytes 11 to 31, unwritten payload tails, a last link) is never read.
std::vector<Flip> FlipsOf(const std::string& container, const std::string& password) {
  TOSingleFileSystem fs(container, kOpenModeReadShared, false, password, "", "", 0, 0);
  const int32_t payload = fs.PageFile().PayloadSize();
  std::vector<Flip> flips;
  Bytes stored(static_cast<size_t>(payload));
  auto add_page = [&](int32_t page_no, int32_t used, bool linked, const std::string& owner,
                      const std::string& what) {
    std::vector<int32_t> offsets{4, 5, 6, 7, 8, 9, 10};
    if (linked) offsets.insert(offsets.end(), {0, 1, 2, 3});
    for (int32_t at : {0, 1, used / 2, used - 1}) offsets.push_back(32 + at);
    for (int32_t offset : offsets) flips.push_back({page_no, offset, 0xFF, owner, what});
    flips.push_back({page_no, 8, 0x01, owner, what});
    flips.push_back({page_no, 9, 0x01, owner, what});
    // Checksum type 0 to 1 changes nothing where both sums agree (an all-zero payload).
    TPage page{{}, stored.data()};
    ASSERT_TRUE(fs.PageFile().ReadPage(page, page_no, used, {}, true));
    if (PageChecksum(stored.data(), size_t(used), 0) !=
        PageChecksum(stored.data(), size_t(used), 1))
      flips.push_back({page_no, 10, 0x01, owner, what});
  };
  for (int32_t offset : {0, 7, 8, 11, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 140, 224, 255})
    flips.push_back({0, offset, 0x01, {}, "header"});
  const TBitmapGeometry& geometry = fs.FreeSpace().Geometry();
  for (int32_t page_no : fs.FreeSpace().PFSPageNumbers())
    add_page(page_no, geometry.BytesPerPFS, false, {}, "PFS");
  for (int32_t page_no : fs.FreeSpace().GAMPageNumbers()) {
    add_page(page_no, geometry.BytesPerGAM, false, {}, "GAM");
    add_page(page_no + 1, geometry.BytesPerGAM, false, {}, "SGAM");
  }
  const std::vector<int32_t>& dir_pages = fs.Directory().PageNumbers();
  for (size_t k = 0; k < dir_pages.size(); ++k)
    add_page(dir_pages[k], fs.Directory().ItemsPerPage() * 512, k + 1 < dir_pages.size(), {},
             "directory");
  for (const char* path : {"a", "sub\\b", "sub\\c", "d"}) {
    const TDirItem& item = fs.Directory().ReadItem(fs.Directory().ResolvePath(path));
    if (item.FirstMapPageNo == -1) continue;
    const TFileMaps maps = fs.PageMaps().GetMaps(item);
    for (int32_t page_no : maps.MapPages)
      add_page(page_no, 4 * maps.DataPages.ItemCount(), false, path, "map");
    for (int32_t page_no : maps.DataPages) add_page(page_no, payload, false, path, "data");
  }
  return flips;
}

class OrvfsFlipTest : public OrvfsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OrvfsFlipTest, FlippedBytesAreFoundAndNeverReadAsData) {
  const std::string password = GetParam();
  const int32_t payload = PageLayoutOf(dfmCompact).PageSize - 32;
  const std::vector<std::pair<std::string, Bytes>> files{
      {"a", PatternBytes(10, 1)},
      {"sub\\b", PatternBytes(2 * payload + 5, 2)},
      {"sub\\c", {}},
      {"d", PatternBytes(payload, 3)},
  };
  Ok({"create", container_, "--mode", "compact", "--password", password});
  for (const auto& [path, bytes] : files)
    Ok({"put", container_, Local("f", bytes), path, "--password", password});
  ExpectClean(container_, password);
  const std::vector<Flip> flips = FlipsOf(container_, password);
  const std::string local = dir_.File("kept");
  const Bytes kept = AsBytes("left alone");
  const int32_t page_size = PageLayoutOf(dfmCompact).PageSize;

  FaultEnv env;
  std::set<int32_t> plain_reads;  // enciphered data pages read back as they are stored
  for (const Flip& flip : flips) {
    SCOPED_TRACE(::testing::Message() << flip.what << " page " << flip.page_no << " offset "
                                      << flip.offset << " mask " << int(flip.mask));
    // Past the part header of the single part.
    env.FlipByteOnRead(container_, 280 + int64_t(flip.page_no) * page_size + flip.offset,
                       flip.mask);
    Result check = Run({"check", container_, "--password", password}, &env);
    EXPECT_EQ(check.status, 1) << check.out;
    EXPECT_THAT(check.err, HasSubstr("orvfs: check: "));
    const bool plain_read = flip.what == "data" && flip.offset == 9 && !password.empty();
    auto wrong_bytes = [&](const std::string& path, const char* how) {
      if (path == flip.owner && plain_read)
        plain_reads.insert(flip.page_no);
      else
        ADD_FAILURE() << path << " " << how << " wrong bytes";
    };
    for (const auto& [path, bytes] : files) {
      if (path == flip.owner) {
        WriteFileBytes(local, kept);
        Result got = Run({"get", container_, path, local, "--password", password}, &env);
        if (got.status != 0) {
          EXPECT_EQ(got.status, 1);
          EXPECT_THAT(got.err, HasSubstr("orvfs: get: "));
          EXPECT_EQ(ReadFileBytes(local), kept);
        } else if (ReadFileBytes(local) != bytes) {
          wrong_bytes(path, "wrote");
        }
        // Damage to a data page's checksum or payload is always found.
        if (flip.what == "data" && (flip.offset < 8 || flip.offset >= 32)) {
          EXPECT_EQ(got.status, 1) << path;
        }
      }
      Result out = Run({"get", container_, path, "-", "--password", password}, &env);
      if (out.status != 0) {
        EXPECT_THAT(out.out, IsEmpty()) << path;
      } else if (AsBytes(out.out) != bytes) {
        wrong_bytes(path, "printed");
      }
    }
    env.ClearFaults();
  }
  ExpectClean(container_, password);
  EXPECT_TRUE(plain_reads.empty())
      << "enciphered data pages returned as stored after their EncryptionType byte changed: "
      << ::testing::PrintToString(plain_reads);
}

INSTANTIATE_TEST_SUITE_P(Containers, OrvfsFlipTest, ::testing::Values("", "pw"),
                         [](const auto& info) {
                           return std::string(*info.param ? "Encrypted" : "Plain");
                         });

}  // namespace
}  // namespace orv
