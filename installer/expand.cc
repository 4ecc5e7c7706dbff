#include "installer/expand.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/product_table.h"
#include "platform/copy.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

// The static buffers of the shortening functions held 255 bytes with their terminator.
constexpr std::size_t kShortenedMax = 254;
// Bytes read from a member at a time.
constexpr std::size_t kReadChunk = 256u << 10;

// Unix file-type bits as the zip format stores them in the high half of a member's external
// attributes.
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;
constexpr std::uint32_t kUnixPermissions = 0777;

// Code page 437, 0x80 to 0xFF, as Unicode code points.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    char32_t code;
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
      code = byte & 0x1F;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
      code = byte & 0x0F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
      code = byte & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points past Unicode's end.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A member that could write outside the destination folder.
bool EscapesFolder(std::string_view name) {
  if (name.empty() || name.front() == '/') return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

// Members that are never extracted: hidden files and folders, and the resource-fork folders
// that archivers of the desktop add.
bool SkippedByName(std::string_view name) {
  return name.front() == '.' || name.find("/.") != std::string_view::npos ||
         name.find("__MACOSX") != std::string_view::npos;
}

bool IsLink(zip_t* archive, zip_uint64_t index) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0) return false;
  return system == ZIP_OPSYS_UNIX && ((attributes >> 16) & kUnixTypeMask) == kUnixSymlink;
}

// The member's Unix permission bits, or -1 when the archive keeps none.
int PermissionsOf(zip_t* archive, zip_uint64_t index) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0 ||
      system != ZIP_OPSYS_UNIX) {
    return -1;
  }
  std::uint32_t permissions = (attributes >> 16) & kUnixPermissions;
  return permissions != 0 ? static_cast<int>(permissions) : -1;
}

std::string ArchiveErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// The path named in the write-privileges message: an application bundle is named without its
// extension and without what lies inside it.
std::string CutAtBundle(const std::string& path) {
  std::size_t cut = std::min(path.find(".app/"), path.find(".app:"));
  return cut == std::string::npos ? path : path.substr(0, cut);
}

// One extraction: the archive, its destination and what happened so far.
class Extraction {
 public:
  Extraction(std::string folder, const ExtractHook& hook, ExtractReport& report)
      : folder_(platform::WithoutTrailingSlash(std::move(folder))), hook_(hook), report_(report) {}

  int Run(const std::string& archive_path) {
    int code = 0;
    zip_t* archive = zip_open(archive_path.c_str(), ZIP_RDONLY, &code);
    if (!archive) {
      Failed("cannot open the archive: " + ArchiveErrorText(code));
      return -1;
    }
    buffer_ = std::make_unique<char[]>(kReadChunk);
    zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
      Member(archive, static_cast<zip_uint64_t>(index));
    }
    zip_discard(archive);
    return report_.failed == 0 ? 0 : -1;
  }

 private:
  void Failed(const std::string& what) {
    ++report_.failed;
    if (report_.error.empty()) report_.error = what;
  }

  void OutputFailed(const std::string& path, std::error_code ec) {
    ExpandState& state = Expand();
    state.gUnzipError = ec == std::errc::no_such_file_or_directory ? kNotFound : ec.value();
    if (!output_failed_) state.gUnzipErrorFile = CutAtBundle(path);
    output_failed_ = true;
    base::WriteLogf(1, "Unzip: cannot write %s: %s", path.c_str(), ec.message().c_str());
    Failed("cannot write " + path + ": " + ec.message());
  }

  void Skip(const char* why, const std::string& name) {
    ++report_.skipped;
    base::WriteLogf(2, "Unzip: %s member not written: %s", why, name.c_str());
  }

  // The folder `relative` below the destination ("" for the destination itself), made as
  // needed. Each folder is opened from its parent's descriptor and a link in the way is
  // replaced by a real folder (platform/copy.h); the folders of the previous member are kept
  // open and reused. Null when a folder cannot be made (counted as an output failure).
  const platform::CopyFolder* Folder(std::string_view relative) {
    if (!root_.is_open()) {
      std::string parent = platform::ParentFolder(folder_);
      std::error_code ec;
      if (!parent.empty() && parent != "/") ec = platform::MakeDirectories(parent);
      if (!ec) ec = platform::OpenCopyDestination(folder_, root_);
      if (ec) {
        OutputFailed(folder_, ec);
        return nullptr;
      }
      NoteReplacedLink(root_);
    }
    std::vector<std::string_view> parts;
    for (std::size_t start = 0; start < relative.size();) {
      std::size_t end = std::min(relative.find('/', start), relative.size());
      if (end > start) parts.push_back(relative.substr(start, end - start));
      start = end + 1;
    }
    std::size_t keep = 0;
    while (keep < parts.size() && keep < open_.size() && open_names_[keep] == parts[keep]) ++keep;
    open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(keep), open_.end());
    open_names_.resize(keep);
    for (std::size_t i = keep; i < parts.size(); ++i) {
      const platform::CopyFolder& parent = i == 0 ? root_ : open_[i - 1];
      platform::CopyFolder next;
      std::string name(parts[i]);
      if (auto ec = platform::OpenCopySubfolder(parent, name, next)) {
        OutputFailed(parent.path() + "/" + name, ec);
        return nullptr;
      }
      NoteReplacedLink(next);
      open_.push_back(std::move(next));
      open_names_.push_back(std::move(name));
    }
    return parts.empty() ? &root_ : &open_.back();
  }

  static void NoteReplacedLink(const platform::CopyFolder& folder) {
    if (folder.replaced_link()) {
      base::WriteLogf(0,
                      "Unzip: a link stood where the folder '%s' belongs; a real folder "
                      "replaces it.",
                      folder.path().c_str());
    }
  }

  void Member(zip_t* archive, zip_uint64_t index) {
    const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (!raw) {
      Failed("unreadable member name: " + std::string(zip_strerror(archive)));
      return;
    }
    std::string name = DecodeMemberName(raw);
    if (EscapesFolder(name) || IsLink(archive, index)) {
      base::WriteLogf(0, "Unzip: unsafe member not written (absolute path, '..' or link): %s",
                      name.c_str());
      ++report_.skipped;
      return;
    }
    if (SkippedByName(name)) {
      ++report_.skipped;
      return;
    }
    std::string path = folder_ + "/" + name;
    if (name.back() == '/') {
      Folder(name);
      return;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, index, 0, &stat) != 0) {
      Failed("cannot read member " + name + ": " + zip_strerror(archive));
      return;
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
      Skip("encrypted", name);
      return;
    }
    if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
        !zip_compression_method_supported(stat.comp_method, 0)) {
      Skip("unsupported compression method", name);
      return;
    }
    const platform::CopyFolder* folder = Folder(platform::WithoutFileName(name));
    if (!folder) return;
    if (hook_) hook_(name);

    platform::PartialFile out;
    if (auto ec = out.Open(*folder, platform::FileName(name))) {
      OutputFailed(path, ec);
      return;
    }
    zip_file_t* member = zip_fopen_index(archive, index, 0);
    if (!member) {
      Failed("cannot read member " + name + ": " + zip_strerror(archive));
      return;
    }
    // A damaged member reports its CRC error only when its last byte is read: nothing reaches
    // the final name before that.
    for (;;) {
      zip_int64_t n = zip_fread(member, buffer_.get(), kReadChunk);
      if (n < 0) {
        Failed("member " + name + ": " + zip_file_strerror(member));
        zip_fclose(member);
        return;
      }
      if (n == 0) break;
      if (auto ec = out.Write(buffer_.get(), static_cast<std::size_t>(n))) {
        OutputFailed(path, ec);
        zip_fclose(member);
        return;
      }
    }
    zip_fclose(member);
    std::int64_t mtime = (stat.valid & ZIP_STAT_MTIME) ? static_cast<std::int64_t>(stat.mtime) : -1;
    if (auto ec = out.Commit(PermissionsOf(archive, index), mtime)) {
      OutputFailed(path, ec);
      return;
    }
    ++report_.files;
  }

  std::string folder_;
  const ExtractHook& hook_;
  ExtractReport& report_;
  std::unique_ptr<char[]> buffer_;
  platform::CopyFolder root_;               // the destination, once a member needs it
  std::vector<platform::CopyFolder> open_;  // the previous member's folders, outermost first
  std::vector<std::string> open_names_;     // their names
  bool output_failed_ = false;
};

// Per extracted file: one unit of the bar, the member on the third line, an event-loop turn.
void ShowMember(const std::string& member) {
  CopyEngine().gBytesTransferred += 1;
  ui::StatusBoxUpdate(nullptr, nullptr, member.c_str());
  if (ui::GetStatusBoxVisible()) updateProgressBar();
  platform::PumpEvents();
}

// The product number in the first three characters of an archive's name (0 when none).
int ProductNumberOf(const std::string& name) {
  int number = 0;
  for (std::size_t i = 0; i < name.size() && i < 3 && name[i] >= '0' && name[i] <= '9'; ++i) {
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

std::string Capped(std::string text) {
  if (text.size() > kShortenedMax) text.resize(kShortenedMax);
  return text;
}

}  // namespace

ExpandState& Expand() {
  static ExpandState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::Expand", [] { state.reset(); });
  return state;
}

std::string DecodeMemberName(std::string_view raw) {
  if (IsValidUtf8(raw)) return std::string(raw);
  std::string out;
  out.reserve(raw.size() * 2);
  for (char c : raw) {
    auto byte = static_cast<unsigned char>(c);
    AppendUtf8(out, byte < 0x80 ? byte : kCp437High[byte - 0x80]);
  }
  return out;
}

int ExtractArchive(const std::string& archive, const std::string& folder, const ExtractHook& hook,
                   ExtractReport& report) {
  report = ExtractReport{};
  Expand().gUnzipErrorFile.clear();
  return Extraction(folder, hook, report).Run(archive);
}

int ExpandFile(const std::string& destDir, const std::string& archivePath, int addSeparator) {
  CopyEngineState& progress = CopyEngine();
  ui::StatusBoxState& box = ui::StatusBox();
  base::RunState& run = base::Run();

  ui::StatusBoxCreate();
  bool overall = box.Status_Bar == 2;
  if (!overall) box.Status_Bar = 1;
  progress.gBytesTransferred = 0;
  progress.gBytesToTransfer = kExpandBarTotal;
  if (overall && progress.Status_Bar_Tot == 0) {
    progress.Status_Bar_Cnt = 0;
    progress.Status_Bar_Tot = kExpandBarTotal;
  }
  if (!overall) setupProgressBar(1);

  std::string name = base::GetFilenameFromPath(archivePath);
  std::string title;
  GetProductName(title, ProductNumberOf(name));
  std::string expanding = "Expanding file: " + name;
  ui::StatusBoxUpdate(title.c_str(), expanding.c_str(), "");

  std::string saved_dir = run.current_dir;
  std::string dest = platform::WithoutTrailingSlash(base::Convert_FileName(destDir, 2));
  if (addSeparator == 1) dest += !dest.empty() && dest.front() == '/' ? "/" : ":";
  run.current_dir = dest;
  Expand().gUnzipError = 0;
  ExtractReport report;
  int result =
      ExtractArchive(base::Convert_FileName(archivePath, 1), run.current_dir, ShowMember, report);
  run.current_dir = saved_dir;

  if (run.The_CD_ROM.empty() || archivePath.find(run.The_CD_ROM) == std::string::npos) {
    base::RemoveFileIfPresent(base::Convert_FileName(archivePath, 2));
  }

  if (box.Status_Bar == 2) {
    progress.Status_Bar_Cnt += static_cast<double>(progress.gBytesTransferred);
    progress.gBytesTransferred = 0;
    updateProgressBar();
  } else {
    hideProgressBar();
    ui::StatusBoxDestroy();
  }

  ExpandState& state = Expand();
  if (state.gUnzipError != 0 && state.gUnzipError != kNotFound) {
    state.gUnzipError = 0;
    ui::Ask({.id = "MSG_WritePrivileges",
             .message = base::Localize("MSG_WritePrivileges") + "\r\r" + state.gUnzipErrorFile,
             .title = "MSG_WritePrivileges",
             .buttons = {"MSG_Button_OK"}});
  }
  if (result != 0) {
    base::WriteLogf(0, "ERROR: expanding %s: %s", archivePath.c_str(), report.error.c_str());
    return -1;
  }
  return 0;
}

std::string GetCompressedURLPath(int maxLen, const std::string& address) {
  std::string text = address;
  for (std::string_view marker : {"/courses_d", "/audio_d_50", "/softwareupdates", "/courses2"}) {
    if (text.find(marker) != std::string::npos) {
      text = platform::FileName(text);
      break;
    }
  }
  auto limit = static_cast<std::size_t>(std::max(maxLen, 0));
  auto last = text.find_last_of('/');
  if (text.size() <= limit || last == std::string::npos || last == 0) return Capped(text);
  std::string tail = text.substr(last + 1);
  for (std::size_t at = text.find_last_of('/', last - 1);; at = text.find_last_of('/', at - 1)) {
    if (at == std::string::npos) break;
    if (at + tail.size() + 5 <= limit) return Capped(text.substr(0, at) + "/ ... /" + tail);
    if (at == 0) break;
  }
  return Capped(text);
}

std::string GetCompressedFilePath(int maxLen, const std::string& path) {
  if (path.size() <= static_cast<std::size_t>(std::max(maxLen, 0))) return Capped(path);
  std::string name = base::GetFilenameFromPath(path);
  long keep = static_cast<long>(maxLen) - static_cast<long>(name.size()) - 10;
  std::string head = path.substr(0, static_cast<std::size_t>(std::max(keep, 0L)));
  base::StripOffFilename(head);
  return Capped(head + "/" + " ... " + "/" + name);
}

int IgnoreVideoFile(const std::string& name, int mode) {
  (void)mode;
  int result = 0;
  if (!name.empty() && (name[0] == 'V' || name[0] == 'v')) {
    bool packed = name.size() >= 7 && base::EqualsIgnoreCase(name.substr(7), ".mzp");
    result = !packed && name.size() > 7 && name[7] == '_' ? 1 : 0;
  }
  if (name.starts_with("A010") || name.starts_with("a010")) {
    char fifth = name.size() > 4 ? base::ToUpperAscii(name[4]) : '\0';
    if (fifth != 'E' && fifth != 'M' && fifth != 'T') result = 1;
  }
  return result;
}

}  // namespace nuvel::installer
