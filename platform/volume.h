#pragma once

#include <cstdint>
#include <string>

namespace orv {

class Env;

// The largest size of one part of a multi-part file on the volume that holds path: 2^63 - 2 on
// the 64-bit file systems, 2^32 - 1 on FAT, 2^31 - 1 where the file system is not known.
int64_t DefaultMaxPartSize(Env* env, const std::string& path);
int64_t MaxPartSizeForFileSystem(const std::string& file_system_name);

}  // namespace orv
