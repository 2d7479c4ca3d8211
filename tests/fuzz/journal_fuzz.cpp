// Reads arbitrary bytes as a flush journal: must give "incomplete" or a list of changes, never
// a crash, a hang or a huge allocation. What does read must stay within the largest table file
// and replay onto memory files.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/files/memory_plain_file_system.h"
#include "engine/storage/flush_journal.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t(1) << 20)) return 0;
  orv::TMemoryPlainFileSystem fs("db");
  orv::TAbstractFile* journal = fs.OpenFile("T.jrn", true, false, false);
  if (size > 0) journal->WriteBuffer(data, static_cast<int32_t>(size));
  std::string name;
  std::vector<orv::TJournalChange> changes;
  if (!orv::ReadFlushJournal(*journal, name, changes)) {
    Check(changes.empty());
    return 0;
  }
  Check(name.size() <= orv::kJournalMaxNameLength);
  int64_t reach = 0;
  for (const orv::TJournalChange& change : changes) {
    Check(change.offset >= 0);
    Check(int64_t(change.offset) + int64_t(change.bytes.size()) <= orv::TAbstractFile::kMaxSize);
    Check(change.kind != orv::tfkIndex);
    reach = std::max<int64_t>(reach, change.offset + int64_t(change.bytes.size()));
  }
  // Replaying far offsets would only grow memory files; small ones show the changes apply.
  if (reach > (int64_t(1) << 20)) return 0;
  for (const orv::TJournalChange& change : changes)
    if (change.cut && change.offset > (1 << 20)) return 0;
  orv::TAbstractFile* files[orv::kTableFileKindCount] = {
      fs.OpenFile("T.dat", true, false, false), nullptr, fs.OpenFile("T.bif", true, false, false),
      fs.OpenFile("T.bdf", true, false, false)};
  orv::ApplyJournalChanges(changes, files);
  return 0;
}
