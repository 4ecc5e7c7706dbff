// Path forms and the small file-system layer that every other module calls: conversions,
// existence tests, folder creation, deletion, sizes, directory enumeration, the write-privilege
// test run on every folder the installer is about to write, and application versions.
//
// Paths arrive in three forms: POSIX ("/" separators, the working form), HFS (":" separators,
// met in older settings files and on discs) and DOS ("\" separators, written by the Windows
// sibling of this system into shared settings files). Linux has no HFS paths, so the "HFS
// form" handed out here is the POSIX form: converting to HFS and back yields a POSIX path, and
// the separator of that form is "/". An incoming HFS path loses its volume name:
// "Volume:folder:file" becomes "/folder/file"; a relative one (":folder:file") becomes
// "folder/file".
//
// Texts are returned as std::string values, so no result is cut to a buffer size. No function
// throws. A yes-or-no answer is a bool, an operation that can fail returns a std::error_code
// (the end of a listing and a missing item are std::errc::no_such_file_or_directory). The
// integer results of the described interface (1/0, 0/-1, 1/-1, 0/errno) come only from the
// adapters in the block "Described interface" at the end; the project's own code calls the
// functions above it. Folders are made by platform::MakeDirectory (one level) and
// platform::MakeDirectories; MakeDirectory below is only the described form of the first.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "platform/files.h"

namespace nuvel::base {

/// Directory enumeration slots of GetFileInfo; callers pick one per nesting level.
inline constexpr int kEnumerationSlots = 7;
/// The slot that single-item look-ups use (a look-up ends a listing in it).
inline constexpr int kSingleItemSlot = 5;

struct FileUtilsState {
  struct EnumerationSlot {
    std::string directory;
    std::vector<platform::DirEntry> entries;  // snapshot taken when the listing started
    std::size_t next = 0;                     // index of the next entry to hand out
    bool started = false;
  };

  int gFixFileName = 0;                 // FixFileName works only while this is on
  bool showedDateErrorMessage = false;  // the system-date warning was shown in this run
  std::array<EnumerationSlot, kEnumerationSlots> slots;
  std::string lastPOSIX;  // previous result of Convert_FileNamePOSIX
  std::string lastHFS;    // previous result of Convert_FileNameHFS

  void reset() { *this = FileUtilsState{}; }
};

FileUtilsState& FileUtils();

// ---- Conversions -------------------------------------------------------------------------

/// True when the path contains a ":" (HFS form).
bool IsMacHFSFileFormat(const std::string& path);

/// "Volume:a:b:" -> "/a/b/", ":a:b" -> "a/b"; a path without ":" is returned unchanged.
std::string HFSToPOSIX(const std::string& path);

/// Every "\" becomes "/" and one trailing "." is removed. Then mode 2 (to POSIX) converts a
/// path that has no "/" from HFS to POSIX form; mode 1 (to HFS) does the same, HFS form being
/// the POSIX form here. Any other mode returns the path after the first step.
std::string Convert_FileName(const std::string& path, int mode);

/// Convert_FileName with mode 2 (POSIX) or 1 (HFS); with `add_separator` 1 a non-empty result
/// that does not end in "/" gets one appended. An empty `path` returns the previous result of
/// the same function unchanged.
std::string Convert_FileNamePOSIX(const std::string& path, int add_separator);
std::string Convert_FileNameHFS(const std::string& path, int add_separator);

/// The path with every "\" turned into "/" and one trailing "." removed.
std::string Convert_FileName2(const std::string& path);

/// A path with ":" is returned unchanged; any other is converted to HFS form (here: POSIX).
std::string Convert_BackFileName(const std::string& path);

/// Appends "/" when the path is non-empty and ends in neither ":" nor "/".
void AddDirSeparater(std::string& path);
/// Remove one trailing "/" (the two names are kept for their callers).
void RemoveDirSeparater(std::string& path);
void StripOffDirseparater(std::string& path);

/// Removes everything after the last "/" and that "/" itself: "/a/b" -> "/a", "/a/" -> "/a",
/// "name" -> "".
void StripOffFilename(std::string& path);

/// The part after the last ":", "/" or "\".
std::string GetFilenameFromPath(const std::string& path);

// ---- Existence, deletion, size ------------------------------------------------------------

/// True when the path (any of the three forms) names an existing file-system object. A missing
/// path is logged at level 5, an empty one at level 0.
bool PathExists(const std::string& path);

/// PathExists after removing one trailing "/". Like PathExists it answers whether anything
/// exists at the path; use platform::IsDirectory for a strict folder test.
bool FolderExists(const std::string& path);

/// Removes the file when it exists; a missing file is no error.
std::error_code RemoveFileIfPresent(const std::string& path);

/// Size in bytes; 0 for an empty path or one that cannot be examined.
std::uint64_t GetMyFileSize(const std::string& path);

/// When gFixFileName is on and the parent folder holds an entry whose name equals the path's
/// last component without regard to case, rewrites the path with that entry's exact name (an
/// exact match is preferred) and returns true.
bool CorrectFileNameCase(std::string& path);

/// The path to open for `path`: its POSIX form, or the case-corrected name (CorrectFileNameCase)
/// when that form does not exist; "" for an empty path. `fopenfile` logs the path and the open
/// mode ("fopenfile2: %s (%s)") first.
std::string fopenfilesimple(const std::string& path);
std::string fopenfile(const std::string& path, const std::string& mode);

// ---- Directory enumeration -----------------------------------------------------------------

/// What a listing or a look-up reports of each entry besides its name: the modification time in
/// seconds since the epoch, or the creation or modification date as a packed date
/// ((year - 1980) * 512 + month * 32 + day, local time). The creation date is the birth time
/// when the file system keeps one, else the modification time. A year before 1980 is taken as
/// 1980 and the system-date warning is shown, once per run.
enum class EntryDate { kNone, kModificationTime, kCreationDate, kModificationDate };

struct FolderEntry {
  std::string name;
  std::int64_t date = 0;      // as EntryDate asked; untouched with kNone
  bool is_directory = false;  // a name ending in ".app" or ".APP" always counts as a file
};

/// Starts listing `directory` (with `pattern` appended as a path component unless it is "*.*")
/// in `slot` (0 to kEnumerationSlots - 1): the folder's entries are taken as they are now.
std::error_code StartListing(int slot, const std::string& directory, const std::string& pattern);

/// The slot's next entry that still exists. no_such_file_or_directory at the end of the listing
/// and for a slot that was never started.
std::error_code NextListedEntry(int slot, EntryDate what, FolderEntry& entry);

/// The single item `directory`/`pattern` (slot kSingleItemSlot). no_such_file_or_directory when
/// it is missing, or when it is a folder and `want_directory` is false (or the other way round).
std::error_code LookUpItem(const std::string& directory, const std::string& pattern,
                           bool want_directory, EntryDate what, FolderEntry& entry);

// ---- Rights, renaming, moving ----------------------------------------------------------------

/// When the file is locked (its owner has no write permission), logs "***File was ReadOnly %s",
/// gives the owner write permission and returns true.
bool UnlockIfLocked(const std::string& path);

/// True when a file can be created in the folder and deleted again; false for an empty path. A
/// path holding multi-byte (UTF-8) characters is warned about first (MSG_NonEnglishPathnames);
/// with `tell_user` the failures are told to the user (MSG_WritePrivileges, or
/// MSG_DeletePrivileges with MSG_TellSupervisor), in English when no message file is loaded.
bool CanWriteIn(const std::string& directory, bool tell_user);

/// True when the file is absent, or when it could be unlocked, renamed to its name followed by
/// "X" and renamed back (a file of that "X" name already there counts as a failure, so that
/// nothing is ever replaced).
bool CanBeRenamed(const std::string& path);

/// True when both "Launcher.app" and "Records Manager.app" of the installation folder can be
/// renamed.
bool CanCompanionsBeRenamed();

/// Moves the folder `from` to the new path `to` (also across volumes). On failure logs the
/// reason and shows "Error moving directory %s" (with `from`).
std::error_code MoveFolder(const std::string& from, const std::string& to);

// ---- Application versions --------------------------------------------------------------------

/// The version of an application bundle or library as "%03d.%03d.%03d.%03d" (kNoVersion when
/// none can be read). The version resource of a bundle "X.app" is the profile file
/// "X.app/Contents/Resources/X.rsrc"; of anything else (a library "libx.so") the file path +
/// ".rsrc". Its section "vers", key "1", holds "a.b.c (MID vM1.M2)", which gives
/// (M1 * 100 + M2 * 10, a, b, c); numbers missing at its end count as 0. Without that key the
/// first 15 characters of the key "GetInfoString" are taken. True when a version was read.
bool ReadFileVersion(const std::string& path, std::string& out);

/// The version ReadFileVersion gives when none can be read.
inline constexpr const char* kNoVersion = "000.000.000.000";

/// When the folder of `path` holds an entry whose name equals the path's file name without
/// regard to case, returns that entry's full path (the exact spelling; an exact match is
/// preferred); "" otherwise.
std::string FindCaseCorrectedPath(const std::string& path);

/// `path` when it exists, else its case-corrected form, else "".
std::string ExistingPathAnyCase(const std::string& path);

// ---- The file system's clock ----------------------------------------------------------------

/// Today's date or time as the file system sees it (the clock of a file server may differ from
/// this computer's): a file with a fresh 8-character name is created in the records folder
/// (Path("nuvel_data")), its date read and the file deleted. `kind` 2 gives the packed date,
/// anything else the modification time in seconds since the epoch. When the file cannot be
/// created (or read back) the user is told ("Can't create random file (1)" / "(2)"), the path
/// is logged, and 0 is returned.
long long FindCurrentDateTime(int kind);

// ---- Described interface -------------------------------------------------------------------
// The names and integer results the described interface states, as thin adapters over the
// functions above. Only that interface calls them; new code calls the functions above.

/// PathExists: 1 or 0.
int DoesFileExist(const std::string& path);
/// FolderExists: 1 or 0.
int DoesDirectoryExist(const std::string& path);

/// Creates the last level of the folder (any of the three forms; mode 0777 less the umask):
/// 0 when it exists already, was created, or when the run is quitting (nothing is done then);
/// -1 when it could not be created.
int MakeDirectory(const std::string& path);

/// RemoveFileIfPresent: 0 when removed or absent, -1 when it could not be removed.
int DeleteMyFile(const std::string& path);

/// CorrectFileNameCase: 1 when the path was rewritten, else 0.
int FixFileName(std::string& path);

/// GetFileInfo's result when a listing has no more entries or an item is not there.
inline constexpr int kFileNotFound = 2;  // ENOENT

/// The listings and look-ups above in one call:
/// mode 1: StartListing in `slot`, then its first entry;
/// mode 0: the slot's next entry (`directory` and `pattern` are ignored);
/// mode 2: LookUpItem (`want_directory` 1 for a folder).
/// `name` receives the entry's name ("" at the end or on error), `is_directory` 1 for a folder.
/// `info` selects what it receives (a value above 3 counts as 1; 0 or less asks for nothing and
/// leaves it alone): 1 the modification time, 2 the creation date, 3 the modification date.
/// Returns 0 on success: also when a listing of an empty folder starts (with an empty name).
/// Running off the end gives kFileNotFound; other failures the system's error number.
int GetFileInfo(int slot, const std::string& directory, const std::string& pattern,
                std::string& name, std::int64_t& info, int mode, int want_directory,
                int& is_directory);

/// UnlockIfLocked: 1 when the file was locked, else 0.
int Check_ReadOnlyFlag(const std::string& path);
/// CanWriteIn (`show_messages` 1 tells the user): 1 when writable, else -1.
int Check_Write_Privileges(const std::string& directory, int show_messages);
/// CanBeRenamed: 1 or 0.
int CanThisAppBeRenamed(const std::string& path);
/// CanCompanionsBeRenamed: 1, else -1.
int CanAllAppsBeRenamed();
/// MoveFolder: 0 on success, else the system's error number.
int MoveMyDirectory(const std::string& from, const std::string& to);
/// ReadFileVersion: 1 when a version was read, else 0.
int GetFileVersionNumber(const std::string& path, std::string& out);

}  // namespace nuvel::base
