// Writes the seed corpus of the journal fuzz target: journal_corpus DIR.
#include <fstream>
#include <string>
#include <vector>

#include "engine/files/memory_plain_file_system.h"
#include "engine/storage/flush_journal.h"

namespace {

// One segment for each list of changes.
void Save(const std::string& path, const std::vector<std::vector<orv::TJournalChange>>& segments) {
  orv::TMemoryPlainFileSystem fs("db");
  orv::TAbstractFile* file = fs.OpenFile("T.jrn", true, false, false);
  file->SetSize(0);
  for (const auto& changes : segments) orv::AppendFlushJournal(*file, "T", changes);
  std::vector<char> bytes(static_cast<size_t>(file->GetSize()));
  file->SetPosition(0);
  file->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  const std::vector<orv::TJournalChange> three_files{
      {orv::tfkData, false, 64, {1, 2, 3, 4, 5, 6, 7, 8}},
      {orv::tfkBlobData, false, 512, std::vector<uint8_t>(32, 0xAB)},
      {orv::tfkBlobIndex, false, 0, {9, 9, 9}},
      {orv::tfkData, true, 70, {}}};
  Save(dir + "/segment_empty", {{}});
  Save(dir + "/segment_three_files", {three_files});
  Save(dir + "/two_segments", {three_files, {{orv::tfkData, false, 72, {5, 5}}}});
  return 0;
}
