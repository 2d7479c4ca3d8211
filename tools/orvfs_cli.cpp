#include "tools/orvfs_cli.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "engine/files/container_header.h"
#include "engine/files/dir_manager.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"
#include "engine/files/page_map_manager.h"
#include "platform/codepage.h"
#include "tools/cli_arguments.h"
#include "tools/orvfs_verify.h"

namespace orv {

namespace {

constexpr int64_t kChunkSize = 64 * 1024;

constexpr const char* kUsage =
    "usage:\n"
    "  orvfs create CONTAINER [--mode compact|normal|large] [--part-size BYTES] [--password PW]\n"
    "  orvfs info   CONTAINER\n"
    "  orvfs ls     CONTAINER [PATH]\n"
    "  orvfs put    CONTAINER LOCALFILE [PATH]\n"
    "  orvfs get    CONTAINER PATH [LOCALFILE|-]\n"
    "  orvfs rm     CONTAINER PATH\n"
    "  orvfs mv     CONTAINER OLD NEW\n"
    "  orvfs check  CONTAINER\n"
    "Every command takes --password PW; without it the ORVFS_PASSWORD environment variable\n"
    "gives the password. Exit status: 0 success, 1 failure or damage, 2 usage error.\n";

using Failure = TCliFailure;
using UsageError = TCliUsageError;

struct CommandLine {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> password, mode, part_size;
};

struct CommandShape {
  const char* name;
  size_t min_operands;
  size_t max_operands;
  bool layout_options;  // --mode and --part-size
};

constexpr CommandShape kCommands[] = {
    {"create", 1, 1, true}, {"info", 1, 1, false}, {"ls", 1, 2, false}, {"put", 2, 3, false},
    {"get", 2, 3, false},   {"rm", 2, 2, false},   {"mv", 3, 3, false}, {"check", 1, 1, false},
};

CommandLine Parse(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError{"no command given"};
  CommandLine line;
  line.command = args[0];
  const CommandShape* shape = nullptr;
  for (const CommandShape& candidate : kCommands)
    if (line.command == candidate.name) shape = &candidate;
  if (shape == nullptr) throw UsageError{fmt::format("unknown command \"{}\"", line.command)};

  std::vector<TCliValueOption> values = {{"--password", &line.password}};
  if (shape->layout_options) {
    values.push_back({"--mode", &line.mode});
    values.push_back({"--part-size", &line.part_size});
  }
  line.operands = ParseCliArguments(args, values);
  if (line.operands.size() < shape->min_operands || line.operands.size() > shape->max_operands)
    throw UsageError{fmt::format("wrong number of operands for {}", line.command)};
  return line;
}

std::string ToEngineText(const std::string& utf8, const char* what) {
  return CliToEngineText(utf8, what);
}

std::string ErrorText(int code) {
  const char* text = "unknown error";
  switch (code) {
    case kOsfsErrorNone:
      text = "no error";
      break;
    case kOsfsErrorNotFound:
      text = "not found, a folder, or a file with its own password";
      break;
    case kOsfsErrorReadOnly:
      text = "the container is read-only";
      break;
    case kOsfsErrorUnknownHandle:
      text = "unknown handle";
      break;
    case kPageErrorHeaderNotRead:
      text = "page header not read";
      break;
    case kPageErrorHeaderNotWritten:
      text = "page header not written";
      break;
    case kPageErrorPayloadNotRead:
      text = "page payload not read";
      break;
    case kPageErrorPayloadNotWritten:
      text = "page payload not written";
      break;
    case kPageErrorChecksum:
      text = "page checksum mismatch";
      break;
    case kPageErrorDecryption:
      text = "page decryption failed";
      break;
    case kPageErrorEncryption:
      text = "page encryption failed";
      break;
    case kOsfsErrorCannotReplace:
      text = "a file of that name exists and cannot be replaced";
      break;
    case kOsfsErrorNoSpace:
      text = "no space left for the container";
      break;
  }
  return fmt::format("{} (error {})", text, code);
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The last component of a container path, trailing separators ignored.
std::string LastComponent(std::string path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  const size_t last = path.find_last_of("\\/");
  return last == std::string::npos ? path : path.substr(last + 1);
}

// The path up to and including its last separator (trailing separators ignored), or "".
std::string FolderPart(std::string path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  const size_t last = path.find_last_of("\\/");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string Below(const std::string& folder, const std::string& name) {
  return folder.empty() || IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

void CheckName(const std::string& name, const std::string& shown) {
  if (!TDIRManager::ValidItemName(name))
    throw Failure{fmt::format("\"{}\" is not a valid name", shown)};
  // The directory would cut it, and the cut name may be another file's.
  if (name.size() > kMaxItemNameLength)
    throw Failure{fmt::format("\"{}\" is longer than {} characters", shown, kMaxItemNameLength)};
}

// "YYYY-MM-DDTHH:MM:SSZ" of a FILETIME; "-" for one before 1601.
std::string IsoTime(int64_t file_time) {
  if (file_time < 0) return "-";
  const int64_t seconds = file_time / 10000000;
  const int64_t second_of_day = seconds % 86400;
  // Days since 1601-01-01 to a civil date, counting from 0000-03-01 in 400-year eras.
  const int64_t z = seconds / 86400 + 584694;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", year, month, day, second_of_day / 3600,
                     second_of_day / 60 % 60, second_of_day % 60);
}

class Orvfs {
 public:
  Orvfs(const CommandLine& line, std::ostream& out, std::ostream& err, Env* env)
      : line_(line), out_(out), err_(err), env_(env) {
    if (line.password) {
      password_ = ToEngineText(*line.password, "the password");
    } else if (const char* from_env = std::getenv("ORVFS_PASSWORD")) {
      password_ = ToEngineText(from_env, "the password");
    }
  }

  int Run() {
    const std::string& c = line_.command;
    const auto& ops = line_.operands;
    auto operand = [&](size_t i) { return i < ops.size() ? std::optional(ops[i]) : std::nullopt; };
    if (c == "create") return Create(ops[0]);
    if (c == "info") return Info(ops[0]);
    if (c == "ls") return List(ops[0], operand(1).value_or("\\"));
    if (c == "put") return Put(ops[0], ops[1], operand(2));
    if (c == "get") return Get(ops[0], ops[1], operand(2));
    if (c == "rm") return Remove(ops[0], ops[1]);
    if (c == "mv") return Move(ops[0], ops[1], ops[2]);
    return Check(ops[0]);
  }

 private:
  std::unique_ptr<TOSingleFileSystem> Open(const std::string& container, bool write) {
    return std::make_unique<TOSingleFileSystem>(
        container, write ? kOpenModeReadWriteDenyWrite : kOpenModeReadShared, false, password_, "",
        "", 0, 0, -1, env_);
  }

  int Create(const std::string& container) {
    TDatabaseFileMode mode = dfmNormal;
    if (line_.mode) {
      if (*line_.mode == "compact")
        mode = dfmCompact;
      else if (*line_.mode == "large")
        mode = dfmLarge;
      else if (*line_.mode != "normal")
        throw UsageError{fmt::format("unknown mode \"{}\"", *line_.mode)};
    }
    int64_t part_size = -1;
    if (line_.part_size) {
      const std::string& text = *line_.part_size;
      char* end = nullptr;
      errno = 0;
      const long long value = std::strtoll(text.c_str(), &end, 10);
      if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
          errno == ERANGE || value <= 0)
        throw UsageError{fmt::format("invalid part size \"{}\"", text)};
      part_size = value;
    }
    // Creating deletes the chain of that name: never take an existing file for a new container.
    if (env_->FileExists(container)) throw Failure{fmt::format("{} already exists", container)};
    const TPageLayout layout = PageLayoutOf(mode);
    TOSingleFileSystem fs(container, kOpenModeCreate, false, password_, "", "", layout.PageSize,
                          layout.ExtentPageCount, part_size, env_);
    return kOrvfsOk;
  }

  int Info(const std::string& container) {
    TPageFileManager pages(container, kOpenModeReadShared, "", "", "", false, 0, 0, -1, env_);
    const TContainerHeader& h = pages.Header();
    out_ << fmt::format(
        "version: {:g}\npage size: {}\nextent pages: {}\npage count: {}\ndir items: {}\n"
        "encrypted: {}\nparts: {}\npart size: {}\n",
        h.Version(), h.PageSize, h.ExtentPageCount, h.PageCount, h.DirItemCount,
        h.EncryptionType != kEncryptionNone ? "yes" : "no", pages.File().PartCount(),
        pages.File().MaxPartSize());
    return kOrvfsOk;
  }

  int List(const std::string& container, const std::string& path_utf8) {
    auto fs = Open(container, false);
    const TDIRManager& dir = fs->Directory();
    const int32_t at = dir.ResolvePath(ToEngineText(path_utf8, "the path"));
    if (at < kRootItem) throw Failure{fmt::format("{}: not found", path_utf8)};
    std::vector<int32_t> items = dir.IsFolder(at) ? dir.Items().Children(at) : std::vector{at};
    std::sort(items.begin(), items.end(), [&dir](int32_t a, int32_t b) {
      return dir.ReadItem(a).FileName < dir.ReadItem(b).FileName;
    });
    for (int32_t n : items) {
      const TDirItem& item = dir.ReadItem(n);
      out_ << fmt::format("{} {:>12} {} {}\n", item.Directory() ? 'd' : '-', item.Size,
                          IsoTime(item.LastWriteTime), Cp1251ToUtf8(item.FileName));
    }
    return kOrvfsOk;
  }

  // Streams the local file into a scratch file next to the target, which then takes the
  // target's place: a failed put leaves an existing file as it was.
  int Put(const std::string& container, const std::string& local,
          const std::optional<std::string>& path_utf8) {
    if (env_->DirectoryExists(local)) throw Failure{fmt::format("{}: is a folder", local)};
    std::unique_ptr<OsFile> source = env_->Open(local, FileOpenOptions{.read_only = true});
    if (!source) throw Failure{fmt::format("{}: cannot open (errno {})", local, env_->LastError())};
    const int64_t size = source->Size();
    if (size < 0) throw Failure{fmt::format("{}: cannot get its size", local)};
    if (size > kMaxStoredFileSize)
      throw Failure{fmt::format("{}: larger than a stored file may be ({} bytes)", local,
                                kMaxStoredFileSize)};
    const std::string base = ToEngineText(ExtractFileName(local), "the file name");
    std::string target = path_utf8 ? ToEngineText(*path_utf8, "the path") : base;
    if (target.empty()) throw Failure{"the path is empty"};

    auto fs = Open(container, true);
    TDIRManager& dir = fs->Directory();
    if (IsSeparator(target.back()) || dir.IsFolder(dir.ResolvePath(target)))
      target = Below(target, base);
    const std::string shown = Cp1251ToUtf8(target);
    CheckName(LastComponent(target), shown);
    const std::string folder = FolderPart(target);
    if (!folder.empty()) {
      // The folder without its last separator, unless that is the root.
      const std::string folder_path =
          folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
      if (dir.ResolvePath(folder_path) < kRootItem && !dir.ForceDirectories(folder_path))
        throw Failure{fmt::format("{}: cannot make its folder", shown)};
      if (!dir.IsFolder(dir.ResolvePath(folder_path)))
        throw Failure{fmt::format("{}: {} is not a folder", shown, Cp1251ToUtf8(folder_path))};
    }

    const std::string scratch = folder + fmt::format("~orvfs-{}.tmp", ::getpid());
    const int32_t handle = fs->FileOpen(scratch, kOpenModeCreate);
    if (handle <= 0)
      throw Failure{fmt::format("{}: cannot create: {}", shown, ErrorText(fs->LastError()))};
    auto abandon = [&](std::string text) {
      fs->FileClose(handle);
      fs->DeleteFile(scratch);
      return Failure{std::move(text)};
    };
    try {
      std::vector<uint8_t> buffer(static_cast<size_t>(std::min(size, kChunkSize)));
      for (int64_t done = 0; done < size;) {
        const int64_t chunk = std::min(kChunkSize, size - done);
        if (source->ReadAt(done, buffer.data(), chunk) != chunk)
          throw abandon(fmt::format("{}: read error at byte {}", local, done));
        const int64_t written = fs->FileWrite(handle, buffer.data(), chunk);
        if (written != chunk)
          throw abandon(fmt::format("{}: write failed at byte {}: {}", shown,
                                    done + std::max<int64_t>(written, 0),
                                    ErrorText(fs->LastError())));
        done += chunk;
      }
      if (!fs->FileFlush(handle)) throw abandon(fmt::format("{}: flush failed", shown));
    } catch (const std::exception&) {
      abandon({});
      throw;
    }
    fs->FileClose(handle);
    const int32_t existing = dir.ResolvePath(target);
    if (existing >= 0 && !fs->DeleteFile(target)) {
      fs->DeleteFile(scratch);
      throw Failure{fmt::format("{}: cannot be replaced", shown)};
    }
    if (!fs->RenameFile(scratch, target))
      throw Failure{fmt::format("{}: cannot rename {} to it: {}", shown, Cp1251ToUtf8(scratch),
                                ErrorText(fs->LastError()))};
    return kOrvfsOk;
  }

  // Nothing reaches the destination unless the whole file was read: a local file is written to
  // a scratch file beside it and renamed, standard output gets the buffered bytes at the end.
  int Get(const std::string& container, const std::string& path_utf8,
          const std::optional<std::string>& local_given) {
    auto fs = Open(container, false);
    const std::string path = ToEngineText(path_utf8, "the path");
    const TDIRManager& dir = fs->Directory();
    const int32_t item_no = dir.ResolvePath(path);
    if (item_no < kRootItem) throw Failure{fmt::format("{}: not found", path_utf8)};
    if (dir.IsFolder(item_no)) throw Failure{fmt::format("{}: is a folder", path_utf8)};
    const int32_t handle = fs->FileOpen(path, kOpenModeReadShared);
    if (handle <= 0)
      throw Failure{fmt::format("{}: cannot open: {}", path_utf8, ErrorText(fs->LastError()))};
    const TDirItem& item = dir.ReadItem(item_no);
    const int64_t size = item.Size;
    const std::string stored_name = Cp1251ToUtf8(item.FileName);

    std::string local = local_given.value_or(stored_name);
    const bool to_out = local == "-";
    if (!to_out && env_->DirectoryExists(local)) local = JoinPath(local, stored_name);
    const std::string scratch = local + fmt::format(".orvfs-{}.tmp", ::getpid());
    std::unique_ptr<OsFile> sink;
    if (!to_out) {
      sink = env_->Open(scratch, FileOpenOptions{.create = true});
      if (!sink)
        throw Failure{fmt::format("{}: cannot create (errno {})", scratch, env_->LastError())};
    }
    auto abandon = [&](std::string text) {
      if (sink) {
        sink.reset();
        env_->DeleteFile(scratch);
      }
      return Failure{std::move(text)};
    };
    std::string held;
    try {
      std::vector<uint8_t> buffer(static_cast<size_t>(std::min(size, kChunkSize)));
      for (int64_t done = 0; done < size;) {
        const int64_t chunk = std::min(kChunkSize, size - done);
        const int64_t read = fs->FileRead(handle, buffer.data(), chunk);
        if (read != chunk)
          throw abandon(fmt::format("{}: read failed at byte {}: {}", path_utf8,
                                    done + std::max<int64_t>(read, 0), ErrorText(fs->LastError())));
        if (to_out)
          held.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(chunk));
        else if (sink->WriteAt(done, buffer.data(), chunk) != chunk)
          throw abandon(fmt::format("{}: write error at byte {}", scratch, done));
        done += chunk;
      }
      if (sink && !sink->Flush()) throw abandon(fmt::format("{}: flush failed", scratch));
    } catch (const std::exception&) {
      abandon({});
      throw;
    }
    fs->FileClose(handle);
    if (to_out) {
      out_.write(held.data(), static_cast<std::streamsize>(held.size()));
      return kOrvfsOk;
    }
    sink.reset();
    if (!env_->RenameFile(scratch, local)) {
      env_->DeleteFile(scratch);
      throw Failure{fmt::format("{}: cannot rename {} to it", local, scratch)};
    }
    return kOrvfsOk;
  }

  int Remove(const std::string& container, const std::string& path_utf8) {
    auto fs = Open(container, true);
    const std::string path = ToEngineText(path_utf8, "the path");
    if (fs->Directory().ResolvePath(path) < 0)
      throw Failure{fmt::format("{}: not found", path_utf8)};
    if (!fs->DeleteFile(path))
      throw Failure{fmt::format("{}: cannot remove (a folder that is not empty?)", path_utf8)};
    return kOrvfsOk;
  }

  int Move(const std::string& container, const std::string& old_utf8, const std::string& new_utf8) {
    auto fs = Open(container, true);
    const TDIRManager& dir = fs->Directory();
    const std::string old_path = ToEngineText(old_utf8, "the path");
    std::string new_path = ToEngineText(new_utf8, "the path");
    const int32_t item_no = dir.ResolvePath(old_path);
    if (item_no < 0) throw Failure{fmt::format("{}: not found", old_utf8)};
    if (new_path.empty()) throw Failure{"the new path is empty"};
    const int32_t target = dir.ResolvePath(new_path);
    if (IsSeparator(new_path.back()) || (target != item_no && dir.IsFolder(target)))
      new_path = Below(new_path, LastComponent(old_path));
    const std::string shown = Cp1251ToUtf8(new_path);
    CheckName(LastComponent(new_path), shown);
    if (!fs->RenameFile(old_path, new_path))
      throw Failure{fmt::format("cannot rename {} to {} (the target exists?)", old_utf8, shown)};
    return kOrvfsOk;
  }

  int Check(const std::string& container) {
    const TOrvfsCheck check = CheckContainerFile(container, password_, env_);
    for (const TOrvfsFinding& finding : check.Findings)
      err_ << "orvfs: check: " << (finding.Warning ? "warning: " : "") << finding.Text << '\n';
    out_ << check.Summary << '\n';
    return check.Damaged() ? kOrvfsFailed : kOrvfsOk;
  }

  const CommandLine& line_;
  std::ostream& out_;
  std::ostream& err_;
  Env* env_;
  std::string password_;
};

}  // namespace

int RunOrvfs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, Env* env) {
  return RunCliCommand("orvfs", args, kUsage, out, err, [&] {
    return Orvfs(Parse(args), out, err, env ? env : Env::Default()).Run();
  });
}

}  // namespace orv
