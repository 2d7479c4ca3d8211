#pragma once

#include <functional>
#include <string>

namespace orv {

class TComponent;

// The stage a progress event reports.
enum TmvProgressProcess {
  mvppImport,
  mvppExport,
  mvppRestructure,
  mvppRepair,
  mvppChangeCompression,
  mvppCompactDB,
  mvppRepairDB,
  mvppChangeEncryption,
  mvppChangeEncryptionDB,
  mvppAddingRecords,
};

using TOrvelProgressEvent =
    std::function<void(TComponent* sender, TmvProgressProcess stage, int percent_done,
                       bool redraw_now, const std::string& message)>;

}  // namespace orv
