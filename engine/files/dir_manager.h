#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/files/dir_array.h"

namespace orv {

class TPageFileManager;
class TFreeSpaceManager;

// Directory pages grow uniformly (from wholly free extents) once the directory has more pages
// than this count: the extent page count of the layout the container plain file system last
// asked for (8 until then). Process-wide.
void SetDirectoryExtentPageCount(int32_t count);
int32_t DirectoryExtentPageCount();

// The clock as directory items store it: the local time cut to a DOS date and time (2-second
// steps), as a UTC FILETIME.
int64_t DirItemTimeNow();
// A stored FILETIME as a DOS date and time in local time, as searches report it.
uint32_t DirItemTimeToDosDateTime(int64_t file_time);

// A path resolves to an item number >= 0, to kRootItem, or to kNoItem when it names nothing.
inline constexpr int32_t kRootItem = -1;
inline constexpr int32_t kNoItem = -2;

// What FindFirst and FindNext report, shaped like the operating system's find record.
struct TOSFSFindData {
  int64_t CreationTime = 0;
  int64_t LastAccessTime = 0;
  int64_t LastWriteTime = 0;
  uint32_t Attributes = 0;
  uint32_t SizeHigh = 0;  // always 0
  uint32_t SizeLow = 0;
  std::string FileName;
};

struct TOSFSSearchRec {
  uint32_t Time = 0;  // LastWriteTime as a local DOS date and time
  int32_t Size = 0;   // low 32 bits of Size
  uint32_t Attr = 0;
  std::string Name;
  uint32_t ExcludeAttr = 0;
  int32_t FindHandle = -1;  // the search slot
  TOSFSFindData FindData;
};

// Whether a name matches a search mask: from the left, a rest of the mask that is exactly "*"
// or "*.*" matches any rest of the name, '*' any run of characters, '?' any one character, and
// other characters match when equal or when their codes differ by exactly 32.
bool MatchesMask(const std::string& name, const std::string& mask);

// The directory of a container, held whole in memory, and the path operations built on it.
//
// The directory is a chain of directory pages (PageType 1, the container's EncryptionType,
// ChecksumType 0) from the header's FirstDirPageNo through NextPageNo, DirPageCount pages long
// (the last page's NextPageNo is written -1 and never followed). Each page stores
// Q = P div 512 items (TDirItem) from payload offset 0 and is written Q * 512 bytes long; item n
// is item n mod Q of page n div Q. Items never move: an item's number is its identity.
class TDIRManager {
 public:
  // Loads and checks the whole directory; raises on damage.
  TDIRManager(TPageFileManager& page_file, TFreeSpaceManager& free_space);

  // Stores a new item in the first deleted slot, or appends it. False with LastError() -17 when
  // no page could be had.
  bool AddItem(const TDirItem& item, int32_t* item_no = nullptr);
  const TDirItem& ReadItem(int32_t item_no) const { return items_.ReadItem(item_no); }
  // Writes through to the item's directory page; raises when the page cannot be written (the
  // item in memory is then left as it was).
  void WriteItem(int32_t item_no, const TDirItem& item);

  int32_t ItemCount() const { return items_.ItemCount(); }
  int32_t ItemsPerPage() const { return items_per_page_; }
  const std::vector<int32_t>& PageNumbers() const { return pages_; }
  int LastError() const { return last_error_; }
  const TDIRArray& Items() const { return items_; }

  // Handles open on an item; not stored.
  int32_t OpenCount(int32_t item_no) const;
  void ChangeOpenCount(int32_t item_no, int32_t delta);

  // Resolves a path from the current directory (the root); see kRootItem and kNoItem.
  int32_t ResolvePath(const std::string& path) const;
  // Splits at the last separator after dropping one trailing separator. parent is kNoItem when
  // the part before the name names nothing.
  void SplitPath(const std::string& path, std::string& parent_path, std::string& name) const;
  int32_t ResolveParent(const std::string& parent_path) const;
  // A name an item may be given: not empty, not "." or "..".
  static bool ValidItemName(const std::string& name);
  // The root or a live directory.
  bool IsFolder(int32_t item_no) const;
  // Whether ancestor is item_no or one of its parents.
  bool IsAncestorOrSelf(int32_t ancestor, int32_t item_no) const;

  // The item the longest resolvable start of path names (the start folder when none does).
  int32_t DeepestExisting(const std::string& path) const;
  // Creates each missing directory of path, parents first. False for a path that cannot name
  // a folder (an empty component); raises when a level cannot be made.
  bool ForceDirectories(const std::string& path);

  // 0 and the first match, or -1 (the slot is then closed again).
  int FindFirst(const std::string& path, uint32_t attributes, TOSFSSearchRec& rec);
  int FindNext(TOSFSSearchRec& rec);
  void FindClose(TOSFSSearchRec& rec);

 private:
  enum class TWalk { kDone, kStopped, kInvalid };
  // Starts at the root or the current directory, takes ".." itself and hands every other
  // component to step, which moves at or stops the walk by returning false.
  TWalk WalkPath(const std::string& path, int32_t& at,
                 const std::function<bool(const std::string&, int32_t&)>& step) const;
  void Load();
  void CheckItems() const;
  bool WritePageAt(int32_t page_index);
  void FillSearchRec(int32_t item_no, TOSFSSearchRec& rec) const;

  TPageFileManager& page_file_;
  TFreeSpaceManager& free_space_;
  int32_t items_per_page_ = 0;
  std::vector<int32_t> pages_;
  TDIRArray items_;
  std::vector<int32_t> open_counts_;
  std::set<int32_t> deleted_;
  int32_t current_dir_ = kRootItem;
  std::string current_path_ = "\\";
  int last_error_ = 0;
};

}  // namespace orv
