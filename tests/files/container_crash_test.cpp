// A scripted workload on a container, cut short by a simulated crash after every possible
// physical write: the container must reopen, hold each file as it was before or after the
// operation under way, and lose nothing worse than unowned pages.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/files/container_fixture.h"
#include "tests/support/no_sync_env.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::PatternBytes;

// Stored files by lower-case path: the name as stored and the content.
struct StoredFile {
  std::string Name;
  Bytes Content;
  bool operator==(const StoredFile&) const = default;
};
using Model = std::map<std::string, StoredFile>;

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string NameOf(const std::string& path) {
  const size_t at = path.find_last_of('\\');
  return at == std::string::npos ? path : path.substr(at + 1);
}

struct Step {
  std::string What;
  std::function<void(TOSingleFileSystem&)> Run;
  std::function<void(Model&)> Apply;
};

void WriteAt(TOSingleFileSystem& fs, const std::string& path, int64_t position,
             const Bytes& bytes) {
  const int32_t handle = fs.FileOpen(path, kOpenModeReadWriteDenyWrite);
  fs.FileSeek(handle, 0, position);
  fs.FileWrite(handle, bytes.data(), int64_t(bytes.size()));
  fs.FileClose(handle);
}

void ModelWrite(Model& model, const std::string& path, int64_t position, const Bytes& bytes) {
  Bytes& content = model.at(Lower(path)).Content;
  if (content.size() < size_t(position) + bytes.size()) content.resize(position + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), content.begin() + position);
}

Step Create(const std::string& path) {
  return {"create " + path, [=](TOSingleFileSystem& fs) { fs.FileCreate(path); },
          [=](Model& m) {
            m[Lower(path)] = {NameOf(path), {}};
          }};
}

Step Write(const std::string& path, int64_t position, Bytes bytes) {
  return {"write " + path, [=](TOSingleFileSystem& fs) { WriteAt(fs, path, position, bytes); },
          [=](Model& m) { ModelWrite(m, path, position, bytes); }};
}

Step SetSize(const std::string& path, int64_t size) {
  return {"set size " + path,
          [=](TOSingleFileSystem& fs) {
            const int32_t handle = fs.FileOpen(path, kOpenModeReadWriteDenyWrite);
            fs.FileSetSize(handle, size);
            fs.FileClose(handle);
          },
          [=](Model& m) { m.at(Lower(path)).Content.resize(size_t(size), 0); }};
}

Step Rename(const std::string& from, const std::string& to) {
  return {"rename " + from + " to " + to, [=](TOSingleFileSystem& fs) { fs.RenameFile(from, to); },
          [=](Model& m) {
            StoredFile file = m.at(Lower(from));
            m.erase(Lower(from));
            file.Name = NameOf(to);
            m[Lower(to)] = file;
          }};
}

Step Delete(const std::string& path) {
  return {"delete " + path, [=](TOSingleFileSystem& fs) { fs.DeleteFile(path); },
          [=](Model& m) { m.erase(Lower(path)); }};
}

std::vector<Step> Workload() {
  return {
      Create("a.dat"),
      Write("a.dat", 0, PatternBytes(3000, 1)),
      Create("b.dat"),
      Write("b.dat", 0, PatternBytes(100, 2)),
      Write("a.dat", 3000, PatternBytes(5000, 3)),  // grows past an extent: uniform pages
      Write("a.dat", 100, PatternBytes(50, 4)),     // in place, one page
      SetSize("b.dat", 5000),
      Rename("a.dat", "sub\\a2.dat"),  // makes the directory
      Create("c.dat"),                 // a second directory page
      Write("c.dat", 0, PatternBytes(1500, 5)),
      SetSize("sub\\a2.dat", 2500),
      Delete("b.dat"),
      Create("d.dat"),  // takes b.dat's slot
      Write("d.dat", 0, PatternBytes(4100, 6)),
      Rename("c.dat", "C.DAT"),
      SetSize("d.dat", 0),
      Write("sub\\a2.dat", 6000, PatternBytes(10, 7)),  // a gap past the end
  };
}

// Every file of the container by lower-case path, directories left out.
void ListFiles(TOSingleFileSystem& fs, const std::string& folder, Model& files) {
  TOSFSSearchRec rec;
  std::vector<std::string> subfolders;
  for (int r = fs.FindFirst(folder + "\\*", 63, rec); r == 0; r = fs.FindNext(rec)) {
    const std::string path = folder.empty() ? rec.Name : folder.substr(1) + "\\" + rec.Name;
    if (rec.Attr & kAttrDirectory)
      subfolders.push_back(folder + "\\" + rec.Name);
    else
      files[Lower(path)] = {rec.Name, testing::GetFile(fs, path)};
  }
  fs.FindClose(rec);
  for (const std::string& sub : subfolders) ListFiles(fs, sub, files);
}

class ContainerCrashTest : public ::testing::Test {
 protected:
  testing::NoSyncEnv no_sync_;

  // Runs the workload with the crash after `writes` writes; the model states the container may
  // be found in afterwards. Returns the writes the workload made.
  int64_t RunUntilCrash(const std::string& path, testing::FaultEnv& env, int64_t writes,
                        std::vector<Model>& allowed) {
    const TPageLayout layout = PageLayoutOf(dfmCompact);
    TOSingleFileSystem fs(path, kOpenModeCreate, false, "", "", "", layout.PageSize,
                          layout.ExtentPageCount, -1, &env);
    Model model;
    fs.FileCreate("keep.dat");
    WriteAt(fs, "keep.dat", 0, PatternBytes(2500, 9));
    model["keep.dat"] = {"keep.dat", PatternBytes(2500, 9)};
    fs.FileFlush(0);
    const int64_t before = env.Counts().writes;
    if (writes >= 0) env.DropWritesAfter(writes);
    allowed = {model};
    for (const Step& step : Workload()) {
      try {
        step.Run(fs);
        fs.FileFlush(0);
      } catch (const std::exception& e) {
        // Once writes are dropped, reads may meet pages that never reached the disk.
        if (!env.Crashed()) ADD_FAILURE() << step.What << ": " << e.what();
      }
      Model next = allowed.back();
      step.Apply(next);
      if (env.Crashed()) {
        allowed = {allowed.back(), next};
        break;
      }
      allowed = {next};
    }
    return env.Counts().writes - before;
  }
};

TEST_F(ContainerCrashTest, EveryCrashPointLeavesAConsistentContainer) {
  int64_t total = 0;
  {
    testing::TempDir dir;
    testing::FaultEnv env(&no_sync_);
    std::vector<Model> allowed;
    total = RunUntilCrash(dir.File("c.ovb"), env, -1, allowed);
    ASSERT_GT(total, 20);
    std::printf("%lld writes\n", (long long)total);
    // Without a crash the workload ends as the model says.
    TOSingleFileSystem fs(dir.File("c.ovb"), kOpenModeReadWriteDenyWrite, false, "", "", "", 0, 0,
                          -1, &env);
    Model found;
    ListFiles(fs, "", found);
    EXPECT_EQ(found, allowed.back());
  }
  for (int64_t k = 0; k <= total; ++k) {
    SCOPED_TRACE("crash after write " + std::to_string(k));
    testing::TempDir dir;
    testing::FaultEnv env(&no_sync_);
    const std::string path = dir.File("c.ovb");
    std::vector<Model> allowed;
    RunUntilCrash(path, env, k, allowed);
    env.ClearFaults();

    const TContainerCheckReport report = CheckContainer(path, {}, &env);
    EXPECT_TRUE(report.Sound()) << report.Text();
    Model found;
    try {
      TOSingleFileSystem fs(path, kOpenModeReadWriteDenyWrite, false, "", "", "", 0, 0, -1, &env);
      ListFiles(fs, "", found);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "reopen: " << e.what();
      continue;
    }
    bool matches = false;
    for (const Model& state : allowed) matches = matches || found == state;
    EXPECT_TRUE(matches) << "found " << found.size() << " files, none of the allowed states";
  }
}

}  // namespace
}  // namespace orv
