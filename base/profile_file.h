// The profile-file engine: every settings file (records.ini, setup.ini, versions.ini, ...) is
// read and rewritten here.
//
// Format: a line is a run of bytes that are TAB or code 32 and above; any other byte below 32
// separates lines (blank lines vanish) and a NUL ends the file. A line's first token is the text
// up to the first "=", space or TAB after skipping leading ones; tokens match without regard to
// case. A key is searched in every line after its section header to the end of the file (not
// only up to the next header), and the first match wins. Its value is everything after the
// line's first "=" with leading TABs skipped. Written lines end in CR LF.
//
// One file's lines are cached at a time. A write reads the file afresh, compares the stored
// value, then rewrites the whole file through a temporary file and a rename, so that a crash
// never leaves a truncated settings file, and drops the cache. From the read to the rename it
// holds the file's update lock (platform::FileUpdateLock, ".<name>.lock" beside it), so that
// two processes (two users' programs, two runs of Setup) writing one file lose no key; a lock
// that cannot be had fails the write like a file that cannot be written.
//
// Lines are matched on their first 254 characters. A line longer than the reading caller's
// buffer is cut to fit (and the cut logged); the cut line is what a later rewrite stores.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace nuvel::base {

/// Size of the buffers almost every caller reads into; values are cut to size - 1.
inline constexpr std::size_t kProfileValueSize = 255;

/// Looks `section`/`key` up in `file` (loading it into the cache unless it is cached) and
/// returns the value, or `def` when the key is absent, cut to kProfileValueSize - 1 characters
/// and stripped (StripProfileValue).
std::string ProfileValue(std::string_view section, std::string_view key, std::string_view def,
                         const std::string& file);

/// The same, not stripped.
std::string RawProfileValue(std::string_view section, std::string_view key, std::string_view def,
                            const std::string& file);

/// What a successful WriteProfileValue or StoreProfileValue did to the file.
enum class ProfileWrite {
  kReplaced,   // the key's line was rewritten with the new value
  kAdded,      // the file was created, the section added or the key appended
  kUnchanged,  // the file already held the value; it was not rewritten
};

/// Stores key=value. A missing file is created holding the section and the setting; a missing
/// section header is written at the top with the setting under it; a missing key of an existing
/// section is appended at the end of the file. `what` (when given) tells which happened.
/// An error, and nothing changed, when the file could not be locked or rewritten, and
/// std::errc::invalid_argument for an empty section or a section, key or value that is not
/// storable text (see IsStorableProfileText).
std::error_code WriteProfileValue(std::string_view section, std::string_view key,
                                  std::string_view value, const std::string& file,
                                  ProfileWrite* what = nullptr);

/// Drops the cache (so that the file is read as it is now) and, unless the file already holds
/// exactly `value` (kUnchanged, file untouched), strips `value` in place and stores it with
/// WriteProfileValue.
std::error_code StoreProfileValue(std::string_view section, std::string_view key,
                                  std::string& value, const std::string& file,
                                  ProfileWrite* what = nullptr);

/// False for text holding a byte that would end its line in a profile file (a CR, an LF or any
/// other control character but TAB): stored, it would add lines (a section, a setting) of the
/// writer's choosing.
bool IsStorableProfileText(std::string_view text);

/// Removes `key` from `section`: every line after the section header whose first token is the
/// key (a lookup would otherwise find the next one). `removed` (when given) tells whether lines
/// were removed; an absent file, section or key is no error. An error when the file could not
/// be locked or rewritten.
std::error_code RemoveProfileKey(std::string_view section, std::string_view key,
                                 const std::string& file, bool* removed = nullptr);

/// Drops the cache; the next read loads its file again.
void FreePrivateProfile();

/// True for a settings value that means yes: its first character is "Y" or "y" ("Yes" -> true,
/// "no" and "" -> false; the value is not stripped first).
inline bool IsYes(std::string_view value) {
  return !value.empty() && (value[0] == 'Y' || value[0] == 'y');
}

/// Yes/no on the first letter of the stripped text (at most 254 characters of it): "y..." is
/// true, "n..." false, anything else (and "") no answer.
std::optional<bool> YesNoValue(std::string_view text);

/// When `path` is a non-empty colon (HFS) path, converts it to the slash form, stores it under
/// section/key with StoreProfileValue and copies it back into `path`; otherwise does nothing.
/// `converted` (when given) tells whether the path was a colon path. The error of the write.
std::error_code StorePosixProfilePath(std::string_view section, std::string_view key,
                                      std::string& path, const std::string& file,
                                      bool* converted = nullptr);

/// Removes leading spaces and trailing spaces, CRs and LFs.
void StripProfileValue(std::string& text);

// ---- Described interface -------------------------------------------------------------------
// The names and integer results the described interface states, as thin adapters over the
// functions above. Only that interface calls them; new code calls the functions above.

/// RawProfileValue with the value cut to `size` - 1 characters in `buffer` (lines longer than
/// that are cut, and the cut logged, when the file is loaded). Returns the length of `buffer`.
int GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                            std::string& buffer, std::size_t size, const std::string& file);

/// The same lookup on the cached lines alone.
int CachedPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                               std::string& buffer, std::size_t size);

/// GetPrivateProfileString, then `buffer` is stripped. Returns the length from before
/// stripping.
int GetNuvelPrivateProfileString(std::string_view section, std::string_view key,
                                 std::string_view def, std::string& buffer, std::size_t size,
                                 const std::string& file);

/// WriteProfileValue. Returns the 0-based index of the line that holds the key (replaced, or
/// already holding the value), -1 when the file was created, the section added or the key
/// appended (or the absent key's value was already the empty one), -2 on any error.
int WritePrivateProfileString(std::string_view section, std::string_view key,
                              std::string_view value, const std::string& file);

/// RemoveProfileKey: 1 when lines were removed, 0 when the file, the section or the key is
/// absent, -2 when the file could not be rewritten.
int RemovePrivateProfileKey(std::string_view section, std::string_view key,
                            const std::string& file);

/// StoreProfileValue: 1 when the file already held the value, otherwise
/// WritePrivateProfileString's result.
int WriteNuvelPrivateProfileString(std::string_view section, std::string_view key,
                                   std::string& value, const std::string& file);

/// YesNoValue: sets `flag` to 1 or 0 and returns 1, or returns 0 and leaves `flag` alone.
int Set_YN_ini_Value(std::string_view text, int& flag);

/// StorePosixProfilePath: 0 when `path` is not a colon path, otherwise
/// WriteNuvelPrivateProfileString's result.
int ConvertToPOSIXPrivateProfileString(std::string_view section, std::string_view key,
                                       std::string& path, const std::string& file);

}  // namespace nuvel::base
