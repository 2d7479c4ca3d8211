#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/container_check.h"
#include "engine/files/container_header.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv::testing {

using Bytes = std::vector<uint8_t>;

// Writes bytes at the start of a stored file, creating or replacing it.
inline void PutFile(TOSingleFileSystem& fs, const std::string& path, const Bytes& bytes) {
  const int32_t handle = fs.FileOpen(path, kOpenModeCreate);
  ASSERT_GT(handle, 0) << path << " error " << fs.LastError();
  ASSERT_EQ(fs.FileWrite(handle, bytes.data(), int64_t(bytes.size())), int64_t(bytes.size()))
      << path << " error " << fs.LastError();
  fs.FileClose(handle);
}

// The whole content of a stored file.
inline Bytes GetFile(TOSingleFileSystem& fs, const std::string& path) {
  const int32_t handle = fs.FileOpen(path, kOpenModeReadWriteDenyWrite);
  if (handle <= 0) {
    ADD_FAILURE() << path << " does not open, error " << fs.LastError();
    return {};
  }
  const int64_t size = fs.FileSeek(handle, 2, 0);
  fs.FileSeek(handle, 0, 0);
  // In steps, so that a damaged Size fails on the first read rather than here.
  Bytes bytes;
  uint8_t chunk[65536];
  while (int64_t(bytes.size()) < size) {
    const int64_t got = fs.FileRead(handle, chunk, sizeof chunk);
    if (got <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  EXPECT_EQ(int64_t(bytes.size()), size) << path;
  fs.FileClose(handle);
  return bytes;
}

// The directory item a path names.
inline const TDirItem& ItemOf(TOSingleFileSystem& fs, const std::string& path) {
  const int32_t item_no = fs.Directory().ResolvePath(path);
  EXPECT_GE(item_no, 0) << path;
  return fs.Directory().ReadItem(item_no);
}

// A container file in a fresh folder, reached through a FaultEnv.
class ContainerTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("c.ovb"); }

  std::unique_ptr<TOSingleFileSystem> Create(TDatabaseFileMode mode = dfmNormal,
                                             const std::string& password = {}) {
    const TPageLayout layout = PageLayoutOf(mode);
    return std::make_unique<TOSingleFileSystem>(Path(), kOpenModeCreate, false, password, "", "",
                                                layout.PageSize, layout.ExtentPageCount, -1, &env_);
  }
  std::unique_ptr<TOSingleFileSystem> Open(uint16_t mode = kOpenModeReadWriteDenyWrite,
                                           const std::string& password = {}) {
    return std::make_unique<TOSingleFileSystem>(Path(), mode, false, password, "", "", 0, 0, -1,
                                                &env_);
  }
  // Fails the test with the checker's findings unless the container is sound and leaks nothing.
  void ExpectClean(const std::string& password = {}) {
    const TContainerCheckReport report = CheckContainer(Path(), password, &env_);
    EXPECT_EQ(report.Issues.size(), 0u) << report.Text();
  }

  TempDir dir_;
  FaultEnv env_;
};

}  // namespace orv::testing
