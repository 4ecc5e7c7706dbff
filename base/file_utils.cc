#include "base/file_utils.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ascii.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"

namespace nuvel::base {
namespace {

static_assert(kFileNotFound == ENOENT, "GetFileInfo reports the end of a listing as ENOENT");

constexpr int kFileInfoNext = 0;
constexpr int kFileInfoFirst = 1;
constexpr int kFileInfoSingle = 2;

std::error_code NotFound() { return std::make_error_code(std::errc::no_such_file_or_directory); }

// A bundle is shown to the user as one item, so listings report it as a file.
bool IsBundleName(const std::string& name) {
  return name.ends_with(".app") || name.ends_with(".APP");
}

// Number of characters of UTF-8 text: every byte that does not continue a sequence.
std::size_t Utf8Length(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

// The system-date warning, once per run: a file dated before 1980 means the clock was wrong
// when it was written.
void WarnAboutSystemDate() {
  FileUtilsState& state = FileUtils();
  if (state.showedDateErrorMessage) return;
  state.showedDateErrorMessage = true;
  Tell("MSG_Message_WrongSystemDate", "MSG_Button_OK");
}

std::int64_t PackedDate(std::int64_t seconds) {
  platform::LocalTime t;
  if (!platform::LocalTimeOf(seconds, t)) return 0;
  if (t.year < 1980) {
    t.year = 1980;
    WarnAboutSystemDate();
  }
  return (t.year - 1980) * 512 + t.month * 32 + t.day;
}

// Reads the date `what` asks for of the item at `path` into `date`.
std::error_code ItemDate(const std::string& path, EntryDate what, std::int64_t& date) {
  if (what == EntryDate::kNone) return {};
  platform::FileTimes times;
  if (auto ec = platform::GetFileTimes(path, times)) return ec;
  switch (what) {
    case EntryDate::kNone:
      break;
    case EntryDate::kModificationTime:
      date = times.modified;
      break;
    case EntryDate::kCreationDate:
      date = PackedDate(times.created != 0 ? times.created : times.modified);
      break;
    case EntryDate::kModificationDate:
      date = PackedDate(times.modified);
      break;
  }
  return {};
}

// The folder a listing covers: the directory, with a pattern other than "*.*" as a component.
std::string ListedFolder(const std::string& directory, const std::string& pattern) {
  std::string folder = Convert_FileName(directory, 2);
  if (!pattern.empty() && pattern != "*.*") folder = platform::Join(folder, pattern);
  return folder;
}

// The enumeration slot of that number, or nullptr.
FileUtilsState::EnumerationSlot* SlotOf(int number) {
  if (number < 0 || number >= kEnumerationSlots) return nullptr;
  return &FileUtils().slots[static_cast<std::size_t>(number)];
}

// The described `info` selector as the date it asks for.
EntryDate DateOfSelector(std::int64_t info) {
  if (info <= 0) return EntryDate::kNone;
  if (info > 3) return EntryDate::kModificationTime;
  return static_cast<EntryDate>(info);
}

// The message of a failed write-privilege test, in English when no message file is loaded.
void TellNoWritePrivileges(const std::string& directory) {
  bool localized = Strings().slots[0].fIsResourceInUse;
  std::string text = localized ? Localize("MSG_WritePrivileges")
                               : "You do not have Write Privileges to the following directory:";
  Tell(text + "\r" + directory, localized ? "MSG_Button_OK" : "OK", "MSG_WritePrivileges");
}

void TellNoDeletePrivileges(const std::string& directory) {
  bool localized = Strings().slots[0].fIsResourceInUse;
  std::string text;
  if (localized) {
    text = Localize("MSG_DeletePrivileges") + "\r\r" + Localize("MSG_TellSupervisor") + "\r\r" +
           directory;
  } else {
    text = "You do not have Delete privileges to the following directory:\r\r" + directory;
  }
  Tell(text, localized ? "MSG_Button_OK" : "OK", "MSG_DeletePrivileges");
}

}  // namespace

FileUtilsState& FileUtils() {
  static FileUtilsState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("base::FileUtils", [] { state.reset(); });
  return state;
}

// ---- Conversions -------------------------------------------------------------------------

bool IsMacHFSFileFormat(const std::string& path) { return path.find(':') != std::string::npos; }

std::string HFSToPOSIX(const std::string& path) {
  if (!IsMacHFSFileFormat(path)) return path;
  // A leading ":" marks a path relative to the current folder; otherwise the text up to the
  // first ":" names a volume, which has no counterpart here.
  std::size_t start = path.find(':');
  std::string result = path[0] == ':' ? "" : "/";
  for (std::size_t i = start + 1; i < path.size(); ++i) result += path[i] == ':' ? '/' : path[i];
  return result;
}

std::string Convert_FileName2(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  if (!result.empty() && result.back() == '.') result.pop_back();
  return result;
}

std::string Convert_FileName(const std::string& path, int mode) {
  std::string result = Convert_FileName2(path);
  if (mode != 1 && mode != 2) return result;
  if (result.find('/') != std::string::npos) return result;
  return HFSToPOSIX(result);
}

std::string Convert_FileNamePOSIX(const std::string& path, int add_separator) {
  std::string& last = FileUtils().lastPOSIX;
  if (path.empty()) return last;
  last = Convert_FileName(path, 2);
  if (add_separator == 1 && !last.empty() && last.back() != '/') last += '/';
  return last;
}

std::string Convert_FileNameHFS(const std::string& path, int add_separator) {
  std::string& last = FileUtils().lastHFS;
  if (path.empty()) return last;
  last = Convert_FileName(path, 1);
  if (add_separator == 1 && !last.empty() && last.back() != '/') last += '/';
  return last;
}

std::string Convert_BackFileName(const std::string& path) {
  if (IsMacHFSFileFormat(path)) return path;
  return Convert_FileName(path, 1);
}

void AddDirSeparater(std::string& path) {
  if (!path.empty() && path.back() != ':' && path.back() != '/') path += '/';
}

void RemoveDirSeparater(std::string& path) {
  if (!path.empty() && path.back() == '/') path.pop_back();
}

void StripOffDirseparater(std::string& path) { RemoveDirSeparater(path); }

void StripOffFilename(std::string& path) { path = platform::WithoutFileName(path); }

std::string GetFilenameFromPath(const std::string& path) {
  auto separator = path.find_last_of(":/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// ---- Existence, deletion, size ------------------------------------------------------------

bool PathExists(const std::string& path) {
  if (path.empty()) {
    WriteLogf(0, "DoesFileExist fileName is NULL");
    return false;
  }
  std::string file = Convert_FileName(path, 2);
  if (platform::Exists(file)) return true;
  WriteLogf(5, "DoesFileExist NOT FOUND %s\n", file.c_str());
  return false;
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  std::string folder = Convert_FileName(path, 2);
  RemoveDirSeparater(folder);
  if (!folder.empty() && platform::Exists(folder)) return true;
  WriteLogf(5, "DoesDirectoryExist NOT FOUND %s\n", folder.c_str());
  return false;
}

std::error_code RemoveFileIfPresent(const std::string& path) {
  std::string file = Convert_FileName(path, 2);
  if (file.empty() || !platform::Exists(file)) return {};
  return platform::RemoveFile(file);
}

std::uint64_t GetMyFileSize(const std::string& path) {
  if (path.empty()) return 0;
  std::uint64_t size = 0;
  if (platform::FileSize(Convert_FileName(path, 2), size)) return 0;
  return size;
}

bool CorrectFileNameCase(std::string& path) {
  if (!FileUtils().gFixFileName || path.empty()) return false;
  std::string corrected = FindCaseCorrectedPath(path);
  if (corrected.empty()) return false;
  path = corrected;
  return true;
}

std::string fopenfilesimple(const std::string& path) {
  if (path.empty()) {
    WriteLogf(0, "fopenfilesimple file is NULL");
    return "";
  }
  std::string file = Convert_FileName(path, 2);
  if (!platform::Exists(file)) CorrectFileNameCase(file);
  WriteLogf(4, "fopenfilesimple - fopen %s", file.c_str());
  return file;
}

std::string fopenfile(const std::string& path, const std::string& mode) {
  WriteLogf(4, "fopenfile2: %s (%s)", Convert_FileName(path, 2).c_str(), mode.c_str());
  return fopenfilesimple(path);
}

// ---- Directory enumeration -----------------------------------------------------------------

std::error_code StartListing(int slot_number, const std::string& directory,
                             const std::string& pattern) {
  FileUtilsState::EnumerationSlot* slot = SlotOf(slot_number);
  if (!slot) return std::make_error_code(std::errc::invalid_argument);
  *slot = FileUtilsState::EnumerationSlot{};
  slot->directory = ListedFolder(directory, pattern);
  if (auto ec = platform::ListDirectoryEntries(slot->directory, slot->entries)) return ec;
  slot->started = true;
  return {};
}

std::error_code NextListedEntry(int slot_number, EntryDate what, FolderEntry& entry) {
  FileUtilsState::EnumerationSlot* slot = SlotOf(slot_number);
  if (!slot) return std::make_error_code(std::errc::invalid_argument);
  if (!slot->started) return NotFound();
  while (slot->next < slot->entries.size()) {
    const platform::DirEntry& listed = slot->entries[slot->next++];
    std::int64_t date = entry.date;
    std::error_code ec = ItemDate(platform::Join(slot->directory, listed.name), what, date);
    // An entry removed since the listing started is passed over.
    if (ec == std::errc::no_such_file_or_directory) continue;
    if (ec) return ec;
    entry.name = listed.name;
    entry.date = date;
    entry.is_directory = listed.is_directory && !IsBundleName(listed.name);
    return {};
  }
  return NotFound();
}

std::error_code LookUpItem(const std::string& directory, const std::string& pattern,
                           bool want_directory, EntryDate what, FolderEntry& entry) {
  FileUtils().slots[kSingleItemSlot] = FileUtilsState::EnumerationSlot{};
  std::string item = ListedFolder(directory, pattern);
  RemoveDirSeparater(item);
  std::string item_name = GetFilenameFromPath(item);
  if (!platform::Exists(item)) return NotFound();
  bool folder = platform::IsDirectory(item) && !IsBundleName(item_name);
  if (folder != want_directory) return NotFound();
  if (auto ec = ItemDate(item, what, entry.date)) return ec;
  entry.name = item_name;
  entry.is_directory = folder;
  return {};
}

// ---- Rights, renaming, moving ----------------------------------------------------------------

bool UnlockIfLocked(const std::string& path) {
  std::string file = Convert_FileName(path, 2);
  bool locked = false;
  if (platform::IsLocked(file, locked) || !locked) return false;
  WriteLogf(0, "***File was ReadOnly %s", file.c_str());
  platform::Unlock(file);
  return true;
}

bool CanWriteIn(const std::string& directory, bool tell_user) {
  if (directory.empty()) return false;
  if (Utf8Length(directory) != directory.size()) {
    Tell("MSG_NonEnglishPathnames", "MSG_Button_OK");
  }
  std::string folder = directory;
  RemoveDirSeparater(folder);

  std::string test_file = Convert_FileNamePOSIX(folder, 1);
  for (int i = 0; i < 8; ++i) test_file += static_cast<char>('A' + std::rand() % 26);
  test_file += ".TST";

  if (platform::CreateEmptyFile(test_file)) {
    if (tell_user) TellNoWritePrivileges(folder);
    return false;
  }
  platform::RemoveFile(test_file);
  // A file that is still there after its deletion shows that entries cannot be deleted here.
  if (!platform::CheckReadable(test_file)) {
    WriteLogf(1, "CWP: cannot open %s", test_file.c_str());
    if (tell_user) TellNoDeletePrivileges(folder);
    return false;
  }
  return true;
}

bool CanBeRenamed(const std::string& path) {
  std::string file = Convert_FileName(path, 2);
  RemoveDirSeparater(file);
  if (file.empty() || !platform::Exists(file)) return true;
  if (platform::Unlock(file)) return false;
  std::string moved = file + "X";
  if (platform::Exists(moved)) return false;
  if (platform::RenameFile(file, moved)) return false;
  if (platform::RenameFile(moved, file)) return false;
  return true;
}

bool CanCompanionsBeRenamed() {
  bool launcher = CanBeRenamed(Path("Launcher.app"));
  bool manager = CanBeRenamed(Path("Records Manager.app"));
  return launcher && manager;
}

std::error_code MoveFolder(const std::string& from, const std::string& to) {
  std::string source = Convert_FileName(from, 2);
  std::string target = Convert_FileName(to, 2);
  RemoveDirSeparater(source);
  RemoveDirSeparater(target);
  std::error_code ec = platform::MoveTree(source, target);
  if (!ec) return {};
  WriteLogf(1, "Error moving directory %s to %s: %s", source.c_str(), target.c_str(),
            ec.message().c_str());
  char message[2048];
  std::snprintf(message, sizeof message, "Error moving directory %s", source.c_str());
  Tell(message, "MSG_Button_OK", "Error moving directory");
  return ec;
}

// ---- Application versions --------------------------------------------------------------------

bool ReadFileVersion(const std::string& path, std::string& out) {
  out = kNoVersion;
  std::string item = Convert_FileName(path, 2);
  RemoveDirSeparater(item);
  if (item.empty()) return false;

  std::string resource;
  std::string name = GetFilenameFromPath(item);
  if (name.ends_with(".app")) {
    resource = item + "/Contents/Resources/" + name.substr(0, name.size() - 3) + "rsrc";
  } else {
    resource = item + ".rsrc";
  }
  if (!platform::IsRegularFile(resource)) return false;

  std::string text = ProfileValue("vers", "1", "", resource);
  int a = 0, b = 0, c = 0, m1 = 0, m2 = 0;
  if (!text.empty() &&
      std::sscanf(text.c_str(), "%d.%d.%d (MID v%d.%d)", &a, &b, &c, &m1, &m2) >= 1) {
    char version[64];
    std::snprintf(version, sizeof version, "%03d.%03d.%03d.%03d", m1 * 100 + m2 * 10, a, b, c);
    out.assign(version, std::min<std::size_t>(std::strlen(version), 15));
    return true;
  }
  text = ProfileValue("vers", "GetInfoString", "", resource);
  if (text.empty()) return false;
  out = text.substr(0, 15);
  return true;
}

// ---- Case-insensitive look-ups ---------------------------------------------------------------

std::string FindCaseCorrectedPath(const std::string& path) {
  const std::string prefix = platform::FolderPrefix(path);
  const std::string folder = prefix.empty() ? "." : platform::WithoutTrailingSlash(prefix);
  std::string name = platform::FileName(path);
  if (name.empty()) return "";
  std::vector<std::string> entries;
  if (platform::ListDirectory(folder, entries)) return "";
  const std::string* found = nullptr;
  for (const auto& entry : entries) {
    if (entry == name) {
      found = &entry;
      break;
    }
    if (!found && EqualsIgnoreCase(entry, name)) found = &entry;
  }
  if (!found) return "";
  return prefix + *found;
}

std::string ExistingPathAnyCase(const std::string& path) {
  if (path.empty()) return "";
  if (platform::Exists(path)) return path;
  return FindCaseCorrectedPath(path);
}

// ---- The file system's clock ----------------------------------------------------------------

long long FindCurrentDateTime(int kind) {
  std::string folder = Path("nuvel_data");
  std::string name;
  for (int i = 0; i < 8; ++i) name += static_cast<char>('A' + std::rand() % 26);
  std::string path = folder + name;
  if (platform::CreateTextFile(path)) {
    WriteLogf(1, "FindCurrentDateTime: cannot create %s", path.c_str());
    Tell("Can't create random file (1)", "MSG_Button_OK");
    return 0;
  }
  FolderEntry entry;
  std::error_code ec =
      LookUpItem(folder, name, false,
                 kind == 2 ? EntryDate::kModificationDate : EntryDate::kModificationTime, entry);
  platform::RemoveFile(path);
  if (ec) {
    WriteLogf(1, "FindCurrentDateTime: cannot read back %s", path.c_str());
    Tell("Can't create random file (2)", "MSG_Button_OK");
    return 0;
  }
  return entry.date;
}

// ---- Described interface -------------------------------------------------------------------

int DoesFileExist(const std::string& path) { return PathExists(path) ? 1 : 0; }

int DoesDirectoryExist(const std::string& path) { return FolderExists(path) ? 1 : 0; }

int MakeDirectory(const std::string& path) {
  if (Run().quitFlag) return 0;
  std::string folder = Convert_FileName(path, 2);
  if (folder.empty()) return -1;
  return platform::MakeDirectory(folder) ? -1 : 0;
}

int DeleteMyFile(const std::string& path) { return RemoveFileIfPresent(path) ? -1 : 0; }

int FixFileName(std::string& path) { return CorrectFileNameCase(path) ? 1 : 0; }

int GetFileInfo(int slot, const std::string& directory, const std::string& pattern,
                std::string& name, std::int64_t& info, int mode, int want_directory,
                int& is_directory) {
  name.clear();
  const EntryDate what = DateOfSelector(info);
  FolderEntry entry;
  std::error_code ec;
  if (mode == kFileInfoSingle) {
    ec = LookUpItem(directory, pattern, want_directory != 0, what, entry);
  } else if (!SlotOf(slot) || (mode != kFileInfoFirst && mode != kFileInfoNext)) {
    return EINVAL;
  } else if (mode == kFileInfoFirst && (ec = StartListing(slot, directory, pattern))) {
    return ec.value();
  } else {
    ec = NextListedEntry(slot, what, entry);
    // A listing that starts on an empty folder (or one emptied meanwhile) starts successfully.
    if (mode == kFileInfoFirst && ec == std::errc::no_such_file_or_directory) return 0;
  }
  if (ec) return ec.value();
  name = entry.name;
  if (what != EntryDate::kNone) info = entry.date;
  is_directory = entry.is_directory ? 1 : 0;
  return 0;
}

int Check_ReadOnlyFlag(const std::string& path) { return UnlockIfLocked(path) ? 1 : 0; }

int Check_Write_Privileges(const std::string& directory, int show_messages) {
  return CanWriteIn(directory, show_messages == 1) ? 1 : -1;
}

int CanThisAppBeRenamed(const std::string& path) { return CanBeRenamed(path) ? 1 : 0; }

int CanAllAppsBeRenamed() { return CanCompanionsBeRenamed() ? 1 : -1; }

int MoveMyDirectory(const std::string& from, const std::string& to) {
  return MoveFolder(from, to).value();
}

int GetFileVersionNumber(const std::string& path, std::string& out) {
  return ReadFileVersion(path, out) ? 1 : 0;
}

}  // namespace nuvel::base
