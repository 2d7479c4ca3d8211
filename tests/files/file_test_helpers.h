#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace orv::testing {

// The message of the orv::Exception that fn raises, or "<no exception>".
template <typename Fn>
std::string MessageOf(Fn fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "<no exception>";
}

// Raw access to disk files, to look at and damage what the file layer wrote.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void PatchFile(const std::string& path, size_t offset, const void* data, size_t size) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (bytes.size() < offset + size) bytes.resize(offset + size);
  std::memcpy(bytes.data() + offset, data, size);
  WriteFileBytes(path, bytes);
}

inline int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

// The next-part name stored in the part header at offset at of a part file.
inline std::string NextPartNameOf(const std::string& path, size_t at = 0) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (bytes.size() < at + 280) return "<no header>";
  const char* name = reinterpret_cast<const char*>(bytes.data() + at + 16);
  return std::string(name, strnlen(name, 261));
}

inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

}  // namespace orv::testing
