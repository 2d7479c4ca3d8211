#include "tools/orvfs_verify.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "engine/files/container_check.h"
#include "engine/files/free_space_manager.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"

namespace orv {

bool TOrvfsCheck::Damaged() const {
  return std::any_of(Findings.begin(), Findings.end(),
                     [](const TOrvfsFinding& finding) { return !finding.Warning; });
}

namespace {

using Kind = TContainerIssueKind;

// Checks each owned page's header against what its owner writes there.
class PageVerifier {
 public:
  PageVerifier(TOSingleFileSystem& fs, TOrvfsCheck& check)
      : fs_(fs),
        pages_(fs.PageFile()),
        container_encryption_(pages_.Header().EncryptionType),
        check_(check),
        buffer_(static_cast<size_t>(pages_.PayloadSize())) {}

  void Run() {
    const TFreeSpaceManager& free_space = fs_.FreeSpace();
    for (int32_t page_no : free_space.PFSPageNumbers()) Bitmap(page_no, kPageTypePFS);
    for (int32_t page_no : free_space.GAMPageNumbers()) {
      Bitmap(page_no, kPageTypeGAM);
      Bitmap(page_no + 1, kPageTypeSGAM);
    }
    for (int32_t page_no : fs_.Directory().PageNumbers())
      Header(page_no, kPageTypeDirectory, "directory",
             [this](uint8_t encryption) { return encryption == container_encryption_; });
    const TDIRManager& dir = fs_.Directory();
    for (int32_t n = 0; n < dir.ItemCount(); ++n) {
      const TDirItem& item = dir.ReadItem(n);
      if (item.Live() && !item.Directory() && item.FirstMapPageNo != -1) File(n, item);
    }
  }

 private:
  void Report(std::string text) { check_.Findings.push_back({false, std::move(text)}); }

  // Reads the page header (the payload too when payload is set, checking its checksum raw) and
  // checks its type, encryption and checksum type. False when the page is unusable.
  template <typename EncryptionOk>
  bool Header(int32_t page_no, uint8_t type, const char* role, EncryptionOk encryption_ok,
              bool payload = false) {
    TPage page{{}, buffer_.data()};
    if (!pages_.ReadPage(page, page_no, payload ? pages_.PayloadSize() : 0, {}, true)) {
      Report(fmt::format("{} page {} cannot be read (page error {})", role, page_no,
                         pages_.LastError()));
      return false;
    }
    bool ok = true;
    if (page.Header.PageType != type) {
      Report(fmt::format("{} page {} has page type {}", role, page_no, page.Header.PageType));
      ok = false;
    }
    if (page.Header.ChecksumType > 1) {
      Report(fmt::format("{} page {} has no checksum (checksum type {})", role, page_no,
                         page.Header.ChecksumType));
      ok = false;
    }
    if (!encryption_ok(page.Header.EncryptionType)) {
      Report(fmt::format("{} page {} has encryption type {}", role, page_no,
                         page.Header.EncryptionType));
      ok = false;
    }
    return ok;
  }

  // Bitmap and map pages are stored plain whatever the container's encryption.
  void Bitmap(int32_t page_no, uint8_t type) {
    Header(page_no, type, "bitmap",
           [](uint8_t encryption) { return encryption == kEncryptionNone; });
  }

  void File(int32_t item_no, const TDirItem& item) {
    TFileMaps maps;
    try {
      const TFileMaps& cached = fs_.PageMaps().GetMaps(item);
      maps = cached;
    } catch (const std::exception& e) {
      Report(fmt::format("item {} (\"{}\"): {}", item_no, item.FileName, e.what()));
      return;
    }
    for (int32_t page_no : maps.MapPages)
      Header(page_no, kPageTypePageMap, "map",
             [](uint8_t encryption) { return encryption == kEncryptionNone; });
    const uint8_t own = item.Encrypted ? kEncryptionContainerKey : container_encryption_;
    for (int32_t page_no : maps.DataPages) {
      uint8_t stored = 0;
      const bool usable = Header(
          page_no, kPageTypeFileData, "data",
          [&](uint8_t encryption) {
            stored = encryption;
            // Pages that only fill a gap are written plain and zero, whatever the file's key.
            return encryption == own || encryption == kEncryptionNone;
          },
          true);
      if (usable && stored != own &&
          std::any_of(buffer_.begin(), buffer_.end(), [](uint8_t b) { return b != 0; }))
        Report(fmt::format("data page {} of item {} (\"{}\") is stored plain in an enciphered file",
                           page_no, item_no, item.FileName));
    }
  }

  TOSingleFileSystem& fs_;
  TPageFileManager& pages_;
  uint8_t container_encryption_;
  TOrvfsCheck& check_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

TOrvfsCheck CheckContainerFile(const std::string& path, const std::string& password, Env* env) {
  TOrvfsCheck check;
  const TContainerCheckReport report = CheckContainer(path, password, env);
  check.Summary = fmt::format("{} pages, {} owned, {} free, {} live items", report.PageCount,
                              report.OwnedPages, report.FreePages, report.LiveItems);
  for (const TContainerIssue& issue : report.Issues) {
    const bool warning = issue.Kind == Kind::kLeaked || issue.Kind == Kind::kExtentMark;
    check.Findings.push_back(
        {warning, fmt::format("{}: {}", ContainerIssueKindName(issue.Kind), issue.Text)});
  }
  for (size_t k = 0; k < kContainerIssueKinds; ++k) {
    const auto kind = static_cast<Kind>(k);
    const int64_t more = report.Count(kind) - int64_t(TContainerCheckReport::kKeptIssues);
    if (more > 0)
      check.Findings.push_back({kind == Kind::kLeaked || kind == Kind::kExtentMark,
                                fmt::format("{}: {} more", ContainerIssueKindName(kind), more)});
  }
  // The structures must hold before the pages they name can be walked.
  if (!report.Sound()) return check;
  try {
    TOSingleFileSystem fs(path, kOpenModeReadShared, false, password, "", "", 0, 0, -1, env);
    PageVerifier(fs, check).Run();
  } catch (const std::exception& e) {
    check.Findings.push_back({false, fmt::format("the container does not open: {}", e.what())});
  }
  return check;
}

}  // namespace orv
