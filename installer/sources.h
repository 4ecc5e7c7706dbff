// Installation sources: what the source offers (the found-product list), what the computer
// already has (the installed-course list), the installation disc, and free space.
//
// Layout of a source below its root (Run().current_dir): "VERSION" (first line identifies the
// disc; "SC" at offsets 34 and 35 marks a content disc), "install/data/setup.ini",
// "install/data/versions.ini", "install/data/support/", an optional "install/data/Products.INF",
// one folder per product "install/data/NNNLLLVV/" holding "nuvel.ini" (and optionally
// "setup.ini"), and the course content under "Nuvel/content/NNNLLLVV/". A product folder name is
// three digits (the product number), a three-letter language or variant code and two version
// digits: "010MUL42" is product 10, multilingual, version 4.2.
//
// An installation disc is a read-only volume holding "VERSION" at its root and an "install" (or
// "INSTALL") folder.
//
// Nothing read from a source reaches a path unchecked: a Products.INF whose count is above 99 or
// whose records run past its end is refused as a whole (and the folders are scanned instead), a
// record or a folder whose name holds "/", "\" or ".." is skipped. Every refusal is logged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::installer {

inline constexpr int kMaxFoundProducts = 99;

// The on-disk found-product record of Products.INF, and the widths of its string fields. A
// value read from a file is cut to its field's width less one (the field's NUL).
inline constexpr std::size_t kProductRecordSize = 306;
inline constexpr std::size_t kCourseNameField = 40;
inline constexpr std::size_t kLanguageField = 15;
inline constexpr std::size_t kVersionField = 5;
inline constexpr std::size_t kFolderField = 35;
inline constexpr std::size_t kVersionNameField = 100;
inline constexpr std::size_t kLanguagesField = 101;
/// The folder field carries the parts to install (letters 'A' to 'P') from this offset on.
inline constexpr std::size_t kPartsOffset = 15;
/// Products.INF begins with the record count in four ASCII digits.
inline constexpr std::size_t kProductCountDigits = 4;

inline constexpr std::size_t kDisplayLineField = 80;
inline constexpr std::size_t kInstalledFolderField = 15;

/// One product found on the source.
struct FoundProduct {
  std::string courseName = "N/A";   // 40 bytes: course_name
  std::string language = "N/A";     // 15: localized language name, "---" for English only
  std::string version = "N/A";      // 5: "V5.0" from the folder's 7th and 8th characters
  std::string folder = "N/A";       // 35: the product folder name, upper-cased
  std::string versionName = "N/A";  // 100: versionName
  std::string languages = "N/A";    // 101: multiLanguages, upper-cased, or the folder's code
  std::string parts;                // the folder field's parts list; empty from a scan
  int englishOnly = 0;
  int installed = 0;          // installed in this run
  int speechRecognition = 0;  // the installed product uses speech recognition
  int multilingual = 0;
};

/// One installed course.
struct InstalledProduct {
  std::string displayLine;  // 80 bytes: "%s  (%c%c%c) V%c.%c"
  std::string folder;       // 15 bytes
};

struct SourceState {
  std::vector<FoundProduct> prodList;      // prodTotal == prodList.size()
  std::vector<std::string> prodFilePaths;  // the matching nuvel.ini paths, one per product
  std::vector<InstalledProduct> InstalledProducts;

  std::string cdMountPath;             // mount point of the installation disc found last ("" none)
  int gCDVolRefNum = 0;                // its volume number (0 none)
  std::string rememberedVersionLine;   // first line of the registered disc's VERSION file
  bool versionLineRemembered = false;  // a line is remembered (it may be empty)
  int Disc_Insert_OK = 1;              // cleared when the user skips the disc prompt

  void reset() { *this = SourceState{}; }
};

SourceState& Sources();

/// Number of products found on the source.
inline int prodTotal() { return static_cast<int>(Sources().prodList.size()); }

// ---- Products on the source ------------------------------------------------------------------

/// Builds prodList and prodFilePaths for the source root Run().current_dir. Products.INF in
/// "install/data" is taken as it is when it is sound (its folders are not scanned); otherwise
/// every folder of "install/data" whose name begins with a product number above 0 that is not
/// excluded and that holds "nuvel.ini" is a product, described by that file and the folder's
/// "setup.ini". Sets SkipInstall when the Setup runs from the disc, the disc holds exactly one
/// product and that product is installed already (unless the Control key is held). Returns 1
/// when at least one product was found, else 0.
int CheckProdExistance();

/// Lists the installed courses of the course folder (Paths().DataPath) into
/// Sources().InstalledProducts (only those whose nuvel.ini has a course_name) and raises
/// Run().max_fix_level_installed to the largest fix_level found. Returns the count.
int NumOfProducts();

/// The update of all installed products, run when the user accepts the offer of
/// CheckInstallations. `forced` is true when the Control key forced the offer. Returns 0 on
/// success.
using UpdateAllProductsFunction = std::function<int(bool forced)>;

/// Offers to update the installed courses for which the source holds a more recent build (with
/// the Control key held: every installed course the source holds). Skipped when the source holds
/// exactly one product. Returns 1 when the user said Yes and `update` succeeded, else 0.
int CheckInstallations(const UpdateAllProductsFunction& update);

/// The build of a course as its NUVEL.INI (section "nuvel.ini") states it.
struct CourseBuild {
  std::string courseName;  // "" when missing
  bool hasFixVersion = false;
  int fixLevel = 0;
  int fixVersion = 0;
};

/// Reads course_name, fix_level and fix_version; a missing file gives an empty build.
CourseBuild ReadCourseBuild(const std::string& iniPath);

/// Whether the source copy is more recent than the installed one: a larger fix_level, or the
/// same fix_level and a larger fix_version; otherwise only when `forced`. Never when the source
/// copy lacks course_name or fix_version.
bool IsMoreRecentBuild(const CourseBuild& source, const CourseBuild& installed, bool forced);

/// The NUVEL.INI of an installed course: under the content folder when there, else under the
/// launch folder (the file name matched without regard to case). "" when neither exists.
std::string InstalledCourseIniPath(const std::string& folder);

/// "<source root>/Nuvel/content/<folder>/NUVEL.INI".
std::string SourceCourseIniPath(const std::string& folder);

/// The localized name of a three-letter language code ("JPN" -> the text of
/// MSG_LanguageJapanese); a code it does not know, or a key the message file lacks, stays as it is.
std::string LanguageNameOfCode(std::string_view code);

/// The product number in the first three characters of a folder name: their leading digits
/// ("010MUL42" -> 10, "7xx" -> 7); 0 when the name does not begin with a digit.
int ProductNumberOfFolder(std::string_view name);

/// The language code in a product folder name, upper-cased: the three characters after the
/// product number ("010mul42" -> "MUL"); a name cut short gives what it has ("010MU" -> "MU"),
/// a name of three characters or fewer "".
std::string FolderCode(std::string_view folder);

/// True for a number of the exclusion list of the product data.
bool IsExcludedFromSourceScan(int productNumber);

/// True when `name` can safely become one component of a path: not empty, not beginning with
/// ".", and holding no "/", "\" or "..".
bool IsSafeProductFolderName(std::string_view name);

// ---- The installation disc --------------------------------------------------------------------

/// Walks the mounted volumes for an installation disc. The first one found is recorded
/// (gCDVolRefNum, cdMountPath) and its mount point written into `path`: returns 1. Without one the
/// record is cleared, `path` is emptied and the result is 0.
int FindAMIDCD(std::string& path);

/// 1 when the folder `volume` holds a readable "VERSION" file; `line`, when given, receives its
/// first line without CR or LF (at most 255 bytes). 0 otherwise.
int VerifyVersionFile(const std::string& volume, std::string* line = nullptr);

/// Makes sure the expected disc is present. With acceptAny 1 whatever is there is accepted and,
/// when it has a VERSION file, registered (its first line remembered, ContentCD_MID from "SC" at
/// offsets 34 and 35). With acceptAny 0 the disc must show the remembered line (or, while none
/// is remembered, have no VERSION file); otherwise the wrong disc is ejected and the user is
/// asked for the right one, until it is there (1) or the user skips (0, Disc_Insert_OK cleared).
/// Without a disc, the source root (else the application's folder) stands for it.
int Installer_Disk_Inserted(int acceptAny);

/// Ejects the recorded disc (when there is one) and forgets it. A failed eject is only logged.
void CD_Eject();

// ---- Free space ------------------------------------------------------------------------------

/// Bytes free on the volume of `volumePath` (its nearest existing ancestor's file system); 0
/// when it cannot be told.
std::uint64_t GetSpaceFree(const std::string& volumePath);

/// 1 when the volume of `path` has at least `bytesNeeded` bytes free; otherwise tells the user
/// how much is free and needed (in MB) and returns 0.
int CheckAvailSpace(const std::string& path, std::uint64_t bytesNeeded);

// ---- Messages --------------------------------------------------------------------------------

/// Finds engine.luc in the source's "install/data", then "install/data/support", then the one
/// shipped with the program (platform::ShippedDataFile); copies it into the local system folder and
/// opens that copy in slot 0 (closing what slot 0 held). When the copy fails the file is opened
/// where it was found. Returns 1 when a message file was opened, else 0.
int SetupOpenLocalLoc();

}  // namespace nuvel::installer
