#include "platform/volume.h"

#include "platform/env.h"

namespace orv {

int64_t MaxPartSizeForFileSystem(const std::string& name) {
  constexpr int64_t k64Bit = INT64_MAX - 1;   // 2^63 - 2
  constexpr int64_t kFat = 4294967295LL;      // 2^32 - 1
  constexpr int64_t kUnknown = 2147483647LL;  // 2^31 - 1
  static const char* const k64BitSystems[] = {"ext4",    "xfs",  "btrfs", "zfs",  "tmpfs",
                                              "overlay", "ntfs", "exfat", "f2fs", "reiserfs",
                                              "ramfs",   "nfs",  "udf"};
  for (const char* fs : k64BitSystems)
    if (name == fs) return k64Bit;
  if (name == "vfat") return kFat;
  return kUnknown;
}

int64_t DefaultMaxPartSize(Env* env, const std::string& path) {
  return MaxPartSizeForFileSystem(env->FileSystemName(path));
}

}  // namespace orv
