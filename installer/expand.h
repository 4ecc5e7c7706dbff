// Course archives: expanding a zip archive into a folder (ExpandFile and the extractor under it),
// the two text-shortening functions of the copy and download status lines, and the test for
// media placeholders used when expanded course content is completed.
//
// The extractor writes every member through a partial file renamed into place once the member
// has been read whole and its CRC checked, so a corrupt or truncated archive never leaves a
// truncated file under a final name. Members that could escape the destination (absolute paths,
// ".." components) and links are never written. The destination and every folder below it are
// made or opened from their parent's descriptor, never through a link: a link found where a
// folder belongs is replaced by a real folder (platform/copy.h); the folders leading to the
// destination are followed.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace nuvel::installer {

/// The bar's maximum while an archive expands: one unit per extracted file.
inline constexpr int kExpandBarTotal = 1000;

struct ExpandState {
  int gUnzipError = 0;          // error of the last output file that could not be written
                                // (the system's number; kNotFound for a missing path)
  std::string gUnzipErrorFile;  // the first such file of the extraction, cut before ".app/"

  void reset() { *this = ExpandState{}; }
};

ExpandState& Expand();

/// What one extraction did.
struct ExtractReport {
  int files = 0;      // files written
  int skipped = 0;    // members left out: hidden, "__MACOSX", encrypted, unsupported method, or
                      // unsafe (absolute path, ".." component, link)
  int failed = 0;     // members that could not be read whole or written
  std::string error;  // the first failure in words ("" when none)
};

/// Called with the member's (decoded) name for each output file the extractor opens.
using ExtractHook = std::function<void(const std::string& member)>;

/// Extracts every member of the zip archive into `folder` (one trailing "/" allowed), creating
/// folders and replacing existing files. Skipped: members whose name begins with "." or
/// contains "/." or "__MACOSX", encrypted members, members of an unsupported compression
/// method, and, logged as unsafe, members with an absolute path or a ".." component and links.
/// Unix permission bits and the modification time of a member are kept. A member that cannot
/// be written sets gUnzipError (each failure) and gUnzipErrorFile (the first); the remaining
/// members are still attempted. Returns 0 when the archive was read whole and every member
/// that was not skipped was written; -1 otherwise (the archive cannot be opened, is truncated,
/// a member fails its CRC or cannot be read, or an output failed).
int ExtractArchive(const std::string& archive, const std::string& folder, const ExtractHook& hook,
                   ExtractReport& report);

/// Expands the archive into `destDir` in the status box (the title of the product whose number
/// is the first three characters of the archive's name, "Expanding file: %s", the member being
/// written) with the progress bar counting files against kExpandBarTotal (or advancing the
/// overall bar while StatusBox().Status_Bar is 2). Run().current_dir holds the destination
/// during the extraction (with a trailing separator when `addSeparator` is 1) and is restored.
/// The archive is deleted afterwards, whatever the outcome, unless its path contains
/// Run().The_CD_ROM. An output failure other than a missing path shows MSG_WritePrivileges with
/// the failing path. Returns 0 only on success; -1 when anything failed (logged as
/// "ERROR: expanding %s: %s"), so that the caller can count the copy as failed.
int ExpandFile(const std::string& destDir, const std::string& archivePath, int addSeparator);

/// For a download address or path: when it contains "/courses_d", "/audio_d_50",
/// "/softwareupdates" or "/courses2", only what follows its last "/"; otherwise all of it. A
/// result longer than `maxLen` is shortened at the last "/" before its tail that leaves room
/// for "/ ... /" and the tail; when there is none it stays whole. At most 254 characters.
std::string GetCompressedURLPath(int maxLen, const std::string& address);

/// A path longer than `maxLen` shortened to its leading folders that fit, " ... " and its file
/// name ("/a/b/ ... /name"); shorter paths unchanged. At most 254 characters.
std::string GetCompressedFilePath(int maxLen, const std::string& path);

/// 1 when the file is not a replaceable media placeholder of the course engine, else 0 (the
/// rules on "V..."/"v..." and "A010"/"a010" names). `mode` is not consulted.
int IgnoreVideoFile(const std::string& name, int mode);

/// A zip member name read raw: kept when it is valid UTF-8, else read as code page 437.
std::string DecodeMemberName(std::string_view raw);

}  // namespace nuvel::installer
