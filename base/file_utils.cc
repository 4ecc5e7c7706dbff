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

namespace nuvel::base {
namespace {

static_assert(kFileNotFound == ENOENT, "GetFileInfo reports the end of a listing as ENOENT");

constexpr int kFileInfoNext = 0;
constexpr int kFileInfoFirst = 1;
constexpr int kFileInfoSingle = 2;

constexpr int kInfoModificationTime = 1;
constexpr int kInfoCreationDate = 2;
constexpr int kInfoModificationDate = 3;

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A bundle is shown to the user as one item, so listings report it as a file.
bool IsBundleName(const std::string& name) {
  return EndsWith(name, ".app") || EndsWith(name, ".APP");
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

// Fills `info` for the item at `path` as GetFileInfo describes; 0 or the error number.
int ItemInfo(const std::string& path, std::int64_t& info) {
  if (info <= 0) return 0;
  int what = info > 3 ? kInfoModificationTime : static_cast<int>(info);
  platform::FileTimes times;
  if (auto ec = platform::GetFileTimes(path, times)) return ec.value();
  switch (what) {
    case kInfoModificationTime:
      info = times.modified;
      break;
    case kInfoCreationDate:
      info = PackedDate(times.created != 0 ? times.created : times.modified);
      break;
    case kInfoModificationDate:
      info = PackedDate(times.modified);
      break;
  }
  return 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The folder a listing covers: the directory, with a pattern other than "*.*" as a component.
std::string ListedFolder(const std::string& directory, const std::string& pattern) {
  std::string folder = Convert_FileName(directory, 2);
  if (!pattern.empty() && pattern != "*.*") folder = JoinPath(folder, pattern);
  return folder;
}

// Hands out the slot's next entry that still exists.
int NextEntry(FileUtilsState::EnumerationSlot& slot, std::string& name, std::int64_t& info,
              int& is_directory) {
  while (slot.next < slot.entries.size()) {
    const platform::DirEntry& entry = slot.entries[slot.next++];
    std::string path = JoinPath(slot.directory, entry.name);
    std::int64_t value = info;
    int error = ItemInfo(path, value);
    // An entry removed since the listing started is passed over.
    if (error == ENOENT) continue;
    if (error) return error;
    name = entry.name;
    info = value;
    is_directory = entry.is_directory && !IsBundleName(entry.name) ? 1 : 0;
    return 0;
  }
  return kFileNotFound;
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

void StripOffFilename(std::string& path) {
  auto slash = path.find_last_of('/');
  path.erase(slash == std::string::npos ? 0 : slash);
}

std::string GetFilenameFromPath(const std::string& path) {
  auto separator = path.find_last_of(":/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// ---- Existence, creation, deletion, size ----------------------------------------------------

int DoesFileExist(const std::string& path) {
  if (path.empty()) {
    WriteLogf(0, "DoesFileExist fileName is NULL");
    return 0;
  }
  std::string file = Convert_FileName(path, 2);
  if (platform::Exists(file)) return 1;
  WriteLogf(5, "DoesFileExist NOT FOUND %s\n", file.c_str());
  return 0;
}

int DoesDirectoryExist(const std::string& path) {
  if (path.empty()) return 0;
  std::string folder = Convert_FileName(path, 2);
  RemoveDirSeparater(folder);
  if (!folder.empty() && platform::Exists(folder)) return 1;
  WriteLogf(5, "DoesDirectoryExist NOT FOUND %s\n", folder.c_str());
  return 0;
}

int MakeDirectory(const std::string& path) {
  if (Run().quitFlag) return 0;
  std::string folder = Convert_FileName(path, 2);
  if (folder.empty()) return -1;
  return platform::MakeDirectory(folder) ? -1 : 0;
}

int DeleteMyFile(const std::string& path) {
  std::string file = Convert_FileName(path, 2);
  if (file.empty() || !platform::Exists(file)) return 0;
  return platform::RemoveFile(file) ? -1 : 0;
}

std::uint64_t GetMyFileSize(const std::string& path) {
  if (path.empty()) return 0;
  std::uint64_t size = 0;
  if (platform::FileSize(Convert_FileName(path, 2), size)) return 0;
  return size;
}

int FixFileName(std::string& path) {
  if (!FileUtils().gFixFileName || path.empty()) return 0;
  std::string corrected = FindCaseCorrectedPath(path);
  if (corrected.empty()) return 0;
  path = corrected;
  return 1;
}

std::string fopenfilesimple(const std::string& path) {
  if (path.empty()) {
    WriteLogf(0, "fopenfilesimple file is NULL");
    return "";
  }
  std::string file = Convert_FileName(path, 2);
  if (!platform::Exists(file)) FixFileName(file);
  WriteLogf(4, "fopenfilesimple - fopen %s", file.c_str());
  return file;
}

std::string fopenfile(const std::string& path, const std::string& mode) {
  WriteLogf(4, "fopenfile2: %s (%s)", Convert_FileName(path, 2).c_str(), mode.c_str());
  return fopenfilesimple(path);
}

// ---- Directory enumeration -----------------------------------------------------------------

int GetFileInfo(int slot_number, const std::string& directory, const std::string& pattern,
                std::string& name, std::int64_t& info, int mode, int want_directory,
                int& is_directory) {
  name.clear();
  if (mode == kFileInfoSingle) slot_number = kSingleItemSlot;
  if (slot_number < 0 || slot_number >= kEnumerationSlots) return EINVAL;
  FileUtilsState::EnumerationSlot& slot = FileUtils().slots[static_cast<std::size_t>(slot_number)];

  if (mode == kFileInfoSingle) {
    slot = FileUtilsState::EnumerationSlot{};
    std::string item = ListedFolder(directory, pattern);
    RemoveDirSeparater(item);
    std::string item_name = GetFilenameFromPath(item);
    if (!platform::Exists(item)) return kFileNotFound;
    int folder = platform::IsDirectory(item) && !IsBundleName(item_name) ? 1 : 0;
    if (folder != (want_directory ? 1 : 0)) return kFileNotFound;
    if (int error = ItemInfo(item, info)) return error;
    name = item_name;
    is_directory = folder;
    return 0;
  }

  if (mode == kFileInfoFirst) {
    slot = FileUtilsState::EnumerationSlot{};
    slot.directory = ListedFolder(directory, pattern);
    if (auto ec = platform::ListDirectoryEntries(slot.directory, slot.entries)) return ec.value();
    slot.started = true;
    // An empty folder starts successfully with no entry to hand out.
    if (slot.entries.empty()) return 0;
    int error = NextEntry(slot, name, info, is_directory);
    return error == kFileNotFound ? 0 : error;
  }

  if (mode != kFileInfoNext) return EINVAL;
  if (!slot.started) return kFileNotFound;
  return NextEntry(slot, name, info, is_directory);
}

// ---- Rights, renaming, moving ----------------------------------------------------------------

int Check_ReadOnlyFlag(const std::string& path) {
  std::string file = Convert_FileName(path, 2);
  bool locked = false;
  if (platform::IsLocked(file, locked) || !locked) return 0;
  WriteLogf(0, "***File was ReadOnly %s", file.c_str());
  platform::Unlock(file);
  return 1;
}

int Check_Write_Privileges(const std::string& directory, int show_messages) {
  if (directory.empty()) return -1;
  if (Utf8Length(directory) != directory.size()) {
    Tell("MSG_NonEnglishPathnames", "MSG_Button_OK");
  }
  std::string folder = directory;
  RemoveDirSeparater(folder);

  std::string test_file = Convert_FileNamePOSIX(folder, 1);
  for (int i = 0; i < 8; ++i) test_file += static_cast<char>('A' + std::rand() % 26);
  test_file += ".TST";

  if (platform::CreateEmptyFile(test_file)) {
    if (show_messages == 1) TellNoWritePrivileges(folder);
    return -1;
  }
  platform::RemoveFile(test_file);
  // A file that is still there after its deletion shows that entries cannot be deleted here.
  if (!platform::CheckReadable(test_file)) {
    WriteLogf(1, "CWP: cannot open %s", test_file.c_str());
    if (show_messages == 1) TellNoDeletePrivileges(folder);
    return -1;
  }
  return 1;
}

int CanThisAppBeRenamed(const std::string& path) {
  std::string file = Convert_FileName(path, 2);
  RemoveDirSeparater(file);
  if (file.empty() || !platform::Exists(file)) return 1;
  if (platform::Unlock(file)) return 0;
  std::string moved = file + "X";
  if (platform::Exists(moved)) return 0;
  if (platform::RenameFile(file, moved)) return 0;
  if (platform::RenameFile(moved, file)) return 0;
  return 1;
}

int CanAllAppsBeRenamed() {
  int launcher = CanThisAppBeRenamed(Path("Launcher.app"));
  int manager = CanThisAppBeRenamed(Path("Records Manager.app"));
  return launcher == 1 && manager == 1 ? 1 : -1;
}

int MoveMyDirectory(const std::string& from, const std::string& to) {
  std::string source = Convert_FileName(from, 2);
  std::string target = Convert_FileName(to, 2);
  RemoveDirSeparater(source);
  RemoveDirSeparater(target);
  std::error_code ec = platform::MoveTree(source, target);
  if (!ec) return 0;
  WriteLogf(1, "Error moving directory %s to %s: %s", source.c_str(), target.c_str(),
            ec.message().c_str());
  char message[2048];
  std::snprintf(message, sizeof message, "Error moving directory %s", source.c_str());
  Tell(message, "MSG_Button_OK", "Error moving directory");
  return ec.value();
}

// ---- Application versions --------------------------------------------------------------------

int GetFileVersionNumber(const std::string& path, std::string& out) {
  out = kNoVersion;
  std::string item = Convert_FileName(path, 2);
  RemoveDirSeparater(item);
  if (item.empty()) return 0;

  std::string resource;
  std::string name = GetFilenameFromPath(item);
  if (EndsWith(name, ".app")) {
    resource = item + "/Contents/Resources/" + name.substr(0, name.size() - 3) + "rsrc";
  } else {
    resource = item + ".rsrc";
  }
  if (!platform::IsRegularFile(resource)) return 0;

  std::string text;
  GetNuvelPrivateProfileString("vers", "1", "", text, kProfileValueSize, resource);
  int a = 0, b = 0, c = 0, m1 = 0, m2 = 0;
  if (!text.empty() &&
      std::sscanf(text.c_str(), "%d.%d.%d (MID v%d.%d)", &a, &b, &c, &m1, &m2) >= 1) {
    char version[64];
    std::snprintf(version, sizeof version, "%03d.%03d.%03d.%03d", m1 * 100 + m2 * 10, a, b, c);
    out.assign(version, std::min<std::size_t>(std::strlen(version), 15));
    return 1;
  }
  GetNuvelPrivateProfileString("vers", "GetInfoString", "", text, kProfileValueSize, resource);
  if (text.empty()) return 0;
  out = text.substr(0, 15);
  return 1;
}

// ---- Case-insensitive look-ups ---------------------------------------------------------------

std::string FindCaseCorrectedPath(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (folder.empty()) folder = "/";
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
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
  return (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + *found;
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
  std::string entry;
  std::int64_t info = kind == 2 ? 3 : 1;  // the modification date, packed, or its seconds
  int is_directory = 0;
  int error = GetFileInfo(5, folder, name, entry, info, 2, 0, is_directory);
  platform::RemoveFile(path);
  if (error != 0) {
    WriteLogf(1, "FindCurrentDateTime: cannot read back %s", path.c_str());
    Tell("Can't create random file (2)", "MSG_Button_OK");
    return 0;
  }
  return info;
}

}  // namespace nuvel::base
