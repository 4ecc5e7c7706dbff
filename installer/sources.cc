#include "installer/sources.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/install.h"
#include "installer/product_table.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "platform/volumes.h"
#include "ui/dialog.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

using base::IsYes;
using base::WriteLogf;

// Products.INF holds at most 4 + 99 * 306 bytes, VERSION a few lines; a larger file is not one
// of them and is never read into memory.
constexpr std::uint64_t kMaxSourceFileBytes = 1 << 20;
constexpr std::size_t kVersionLineMax = 255;
constexpr double kBytesPerMB = 1048576.0;

constexpr const char* kEngineMessageFile = "engine.luc";

// Where each field of the 306-byte record begins.
constexpr std::size_t kCourseNameAt = 0;
constexpr std::size_t kLanguageAt = kCourseNameAt + kCourseNameField;
constexpr std::size_t kVersionAt = kLanguageAt + kLanguageField;
constexpr std::size_t kFolderAt = kVersionAt + kVersionField;
constexpr std::size_t kVersionNameAt = kFolderAt + kFolderField;
constexpr std::size_t kLanguagesAt = kVersionNameAt + kVersionNameField;
constexpr std::size_t kFlagsAt = kLanguagesAt + kLanguagesField;
static_assert(kFlagsAt + 5 * 2 == kProductRecordSize, "five 16-bit flags end the record");

// The language codes of product folders and the keys of their localized names.
struct LanguageKey {
  std::string_view code;
  std::string_view key;
};
constexpr LanguageKey kLanguageKeys[] = {
    {"JPN", "MSG_LanguageJapanese"},     {"ROU", "MSG_LanguageRomanian"},
    {"ENG", "MSG_LanguageEnglish"},      {"HUN", "MSG_LanguageHungarian"},
    {"MAN", "MSG_LanguageMandarin_MAN"}, {"PRT", "MSG_LanguagePortuguese"},
    {"MAS", "MSG_LanguageMandarin_MAS"}, {"TAI", "MSG_LanguageThai"},
    {"KOR", "MSG_LanguageKorean"},       {"TUR", "MSG_LanguageTurkish"},
    {"ITL", "MSG_LanguageItalian"},      {"ARB", "MSG_LanguageArabic"},
    {"FRA", "MSG_LanguageFrench"},       {"MAL", "MSG_LanguageMalay"},
    {"SPN", "MSG_LanguageSpanish"},      {"DAN", "MSG_LanguageDanish"},
    {"GER", "MSG_LanguageGerman"},       {"MON", "MSG_LanguageMongolian"},
    {"GRK", "MSG_LanguageGreek"},        {"RUS", "MSG_LanguageRussian"},
    {"VTN", "MSG_LanguageVietnamese"},   {"KAZ", "MSG_LanguageKazakh"},
    {"IND", "MSG_LanguageIndonesian"},   {"HIN", "MSG_LanguageHindi"},
    {"CZH", "MSG_LanguageCzech"},        {"PUN", "MSG_LanguagePunjabi"},
    {"SVK", "MSG_LanguageSlovakian"},    {"UKR", "MSG_LanguageUkrainian"},
};

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Cuts a value to its record field (the field's size less its NUL), never inside a UTF-8
// sequence, so that a localized name stays valid text.
std::string CutToField(std::string value, std::size_t field) {
  std::size_t limit = field - 1;
  if (value.size() <= limit) return value;
  while (limit > 0 && (static_cast<unsigned char>(value[limit]) & 0xC0) == 0x80) --limit;
  value.resize(limit);
  return value;
}

using platform::Join;

std::string SourceRoot() {
  std::string root = base::Run().current_dir;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string SourceDataFolder() { return Join(SourceRoot(), "install/data"); }

// The Setup runs from the installation disc: the disc was found and the source root lies on it.
bool RunningFromDisc() {
  const std::string& disc = Sources().cdMountPath;
  return !disc.empty() && platform::IsWithin(SourceRoot(), disc);
}

bool StopRequested() { return base::Run().quitFlag || ui::CurrentBackend().StopRequested(); }

// Reads a small file of the source whole; false when it is missing, unreadable or too large.
bool ReadSourceFile(const std::string& path, std::string& data) {
  std::uint64_t size = 0;
  if (path.empty() || !platform::IsRegularFile(path) || platform::FileSize(path, size)) {
    return false;
  }
  if (size > kMaxSourceFileBytes) {
    WriteLogf(0, "ERROR: %s refused: %llu bytes is too large for it", path.c_str(),
              static_cast<unsigned long long>(size));
    return false;
  }
  return !platform::ReadFile(path, data);
}

// The folders of `folder` sorted by name, so that every run lists a source in the same order.
std::vector<std::string> SortedFolders(const std::string& folder) {
  std::vector<platform::DirEntry> entries;
  std::vector<std::string> names;
  if (folder.empty()) return names;
  if (std::error_code ec = platform::ListDirectoryEntries(folder, entries)) {
    WriteLogf(1, "Cannot list %s: %s", folder.c_str(), ec.message().c_str());
    return names;
  }
  for (auto& entry : entries) {
    if (entry.is_directory) names.push_back(std::move(entry.name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadIniValue(std::string_view section, std::string_view key, const std::string& file) {
  return file.empty() ? std::string() : base::ProfileValue(section, key, "", file);
}

// ---- Products.INF ----

// A NUL-padded string field: its bytes up to the first NUL, cut to the field.
std::string FieldText(std::string_view record, std::size_t at, std::size_t size) {
  std::string_view field = record.substr(at, size);
  return CutToField(std::string(field.substr(0, field.find('\0'))), size);
}

int FlagAt(std::string_view record, std::size_t at) {
  return static_cast<unsigned char>(record[at]) | (static_cast<unsigned char>(record[at + 1]) << 8);
}

FoundProduct ParseProductRecord(std::string_view record) {
  FoundProduct product;
  product.courseName = FieldText(record, kCourseNameAt, kCourseNameField);
  product.language = FieldText(record, kLanguageAt, kLanguageField);
  product.version = FieldText(record, kVersionAt, kVersionField);
  product.folder = FieldText(record, kFolderAt, kFolderField);
  product.versionName = FieldText(record, kVersionNameAt, kVersionNameField);
  product.languages = FieldText(record, kLanguagesAt, kLanguagesField);
  // The parts list follows the folder name's NUL; a name that reaches the parts offset has none.
  if (product.folder.size() < kPartsOffset) {
    std::string parts = FieldText(record, kFolderAt + kPartsOffset, kFolderField - kPartsOffset);
    for (char part : parts) {
      if (part >= 'A' && part <= 'P') product.parts += part;
    }
  }
  product.englishOnly = FlagAt(record, kFlagsAt);
  product.installed = FlagAt(record, kFlagsAt + 2);
  product.speechRecognition = FlagAt(record, kFlagsAt + 4);
  product.multilingual = FlagAt(record, kFlagsAt + 8);
  return product;
}

enum class ListResult { kMissing, kRefused, kRead };

// Takes the products of a sound Products.INF. A count that is not four digits, above 99, or
// whose records run past the end of the file refuses the whole file: it is damaged, and the
// folders are scanned instead. A record whose folder name could leave the product folder is
// skipped; the other records stay usable.
ListResult ReadProductsInf(const std::string& dataFolder) {
  const std::string path = Join(dataFolder, "Products.INF");
  std::string data;
  if (!platform::IsRegularFile(path)) return ListResult::kMissing;
  if (!ReadSourceFile(path, data)) return ListResult::kRefused;

  const std::string_view digits = std::string_view(data).substr(0, kProductCountDigits);
  if (digits.size() < kProductCountDigits ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    WriteLogf(0, "ERROR: Products.INF refused: its count is not four digits");
    return ListResult::kRefused;
  }
  const int count = std::atoi(std::string(digits).c_str());
  if (count > kMaxFoundProducts) {
    WriteLogf(0, "ERROR: Products.INF refused: %d products, at most %d", count, kMaxFoundProducts);
    return ListResult::kRefused;
  }
  const std::size_t needed =
      kProductCountDigits + static_cast<std::size_t>(count) * kProductRecordSize;
  if (data.size() < needed) {
    WriteLogf(0, "ERROR: Products.INF refused: %d records need %zu bytes, the file holds %zu",
              count, needed, data.size());
    return ListResult::kRefused;
  }

  SourceState& state = Sources();
  for (int i = 0; i < count; ++i) {
    std::string_view record = std::string_view(data).substr(
        kProductCountDigits + static_cast<std::size_t>(i) * kProductRecordSize, kProductRecordSize);
    FoundProduct product = ParseProductRecord(record);
    if (!IsSafeProductFolderName(product.folder)) {
      WriteLogf(0, "ERROR: Products.INF record %d refused: folder name '%s'", i + 1,
                product.folder.c_str());
      continue;
    }
    WriteLogf(0, "Products.INF: %s", product.folder.c_str());
    state.prodFilePaths.push_back(Join(Join(dataFolder, product.folder), "nuvel.ini"));
    state.prodList.push_back(std::move(product));
  }
  return ListResult::kRead;
}

// ---- The folder scan ----

// First pass: every folder that is a product, with what its name tells.
void ScanProductFolders(const std::string& dataFolder) {
  ui::StatusBoxUpdate("Scanning for Available Installations", "Found", "");
  SourceState& state = Sources();
  bool busy = false;
  for (const std::string& name : SortedFolders(dataFolder)) {
    if (StopRequested()) break;
    if (name[0] == '.') continue;
    const int number = ProductNumberOfFolder(name.substr(0, 3));
    if (number <= 0 || IsExcludedFromSourceScan(number)) continue;
    if (!IsSafeProductFolderName(name)) {
      WriteLogf(0, "ERROR: product folder refused: '%s'", name.c_str());
      continue;
    }
    const std::string ini = Join(Join(dataFolder, name), "nuvel.ini");
    if (!platform::IsRegularFile(ini)) continue;
    if (prodTotal() >= kMaxFoundProducts) {
      WriteLogf(0, "ERROR: more than %d products on the source; '%s' and later are left out",
                kMaxFoundProducts, name.c_str());
      break;
    }

    FoundProduct product;
    const std::string upper = base::UpperAscii(name);
    product.language = CutToField(LanguageNameOfCode(FolderCode(upper)), kLanguageField);
    product.version = "VX.X";
    if (name.size() >= 8) product.version = std::string{'V', name[6], '.', name[7]};
    product.folder = CutToField(upper, kFolderField);
    if (Contains(upper, "ENG") || Contains(upper, "MIX")) product.englishOnly = 1;
    state.prodList.push_back(std::move(product));
    state.prodFilePaths.push_back(ini);

    ui::StatusBoxUpdate(nullptr, nullptr, std::to_string(prodTotal()).c_str());
    if (prodTotal() >= 2 && !busy) {
      ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
      busy = true;
    }
  }
  if (busy) ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
}

// Second pass: each product's setup.ini and nuvel.ini.
void DescribeProducts() {
  ui::StatusBoxUpdate("Scanning for Installations", "Getting Product Information", "");
  SourceState& state = Sources();
  for (std::size_t i = 0; i < state.prodList.size(); ++i) {
    FoundProduct& product = state.prodList[i];
    const std::string& ini = state.prodFilePaths[i];
    std::string folder = platform::WithoutFileName(ini);

    std::string languages = ReadIniValue("nuvel", "multiLanguages", Join(folder, "setup.ini"));
    if (languages.empty()) languages = FolderCode(product.folder);
    product.languages = CutToField(base::UpperAscii(languages), kLanguagesField);

    if (!ini.ends_with("nuvel.ini")) continue;
    std::string value = ReadIniValue("nuvel.ini", "course_name", ini);
    if (!value.empty()) product.courseName = CutToField(value, kCourseNameField);
    if (IsYes(ReadIniValue("nuvel.ini", "english_only", ini))) {
      product.englishOnly = 1;
      product.language = "---";
    }
    value = ReadIniValue("nuvel.ini", "versionName", ini);
    if (!value.empty()) product.versionName = CutToField(value, kVersionNameField);
    if (IsYes(ReadIniValue("nuvel.ini", "multilingual", ini)) || Contains(product.folder, "MUL")) {
      product.multilingual = 1;
    }
    ui::StatusBoxUpdate(nullptr, nullptr, product.courseName.c_str());
    WriteLogf(0, "Found Installer for: %s  (%s)", product.folder.c_str(),
              product.courseName.c_str());
  }
}

// Nothing to install when the Setup runs from a disc whose only product is installed already.
void ApplySkipInstallRule() {
  if (prodTotal() != 1 || !RunningFromDisc() || base::Paths().DataPath.empty()) return;
  const std::string installed = base::ExistingPathAnyCase(
      Join(Join(base::Paths().DataPath, Sources().prodList[0].folder), "nuvel.ini"));
  if (installed.empty()) return;
  base::Run().SkipInstall = ui::IsControlKeyHeldDown() ? 0 : 1;
  WriteLogf(1, "SkipInstall=%d: the disc's only product is installed", base::Run().SkipInstall);
}

std::string Megabytes(std::uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%5.2f", static_cast<double>(bytes) / kBytesPerMB);
  return text;
}

// The name of the volume that holds `path` for the user: its mount point.
std::string VolumeName(const std::string& path) {
  platform::Volume volume;
  return platform::VolumeOf(path, volume) ? volume.mountPoint : path;
}

}  // namespace

SourceState& Sources() {
  static SourceState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::Sources", [] { state.reset(); });
  return state;
}

// ---- Products on the source ------------------------------------------------------------------

int CheckProdExistance() {
  WriteLogf(0, "CheckProdExistance");
  SourceState& state = Sources();
  state.prodList.clear();
  state.prodFilePaths.clear();

  const std::string dataFolder = SourceDataFolder();
  switch (ReadProductsInf(dataFolder)) {
    case ListResult::kRead:
      return prodTotal() > 0 ? 1 : 0;
    case ListResult::kMissing:
      WriteLogf(0, "Did not find Products.INF");
      break;
    case ListResult::kRefused:
      WriteLogf(0, "Scanning the product folders instead of Products.INF");
      break;
  }
  ScanProductFolders(dataFolder);
  DescribeProducts();
  ApplySkipInstallRule();
  return prodTotal() > 0 ? 1 : 0;
}

int NumOfProducts() {
  SourceState& state = Sources();
  state.InstalledProducts.clear();
  base::RunState& run = base::Run();
  for (const std::string& name : SortedFolders(base::Paths().DataPath)) {
    if (name[0] == '.') continue;
    const std::string folder_path = Join(base::Paths().DataPath, name);
    if (platform::Exists(Join(folder_path, kInstallingMark))) {
      WriteLogf(0, "%s was not installed completely; installing it again completes it",
                name.c_str());
      continue;
    }
    const std::string ini = base::ExistingPathAnyCase(Join(folder_path, "nuvel.ini"));
    if (ini.empty()) continue;
    const int fix_level = std::atoi(ReadIniValue("nuvel.ini", "fix_level", ini).c_str());
    run.max_fix_level_installed = std::max(run.max_fix_level_installed, fix_level);
    const std::string course = ReadIniValue("nuvel.ini", "course_name", ini);
    if (course.empty()) continue;

    std::string folder = name;
    folder.resize(std::max<std::size_t>(folder.size(), 8), ' ');
    InstalledProduct entry;
    entry.displayLine =
        CutToField(course + "  (" + folder.substr(0, 3) + ") V" + folder[6] + "." + folder[7],
                   kDisplayLineField);
    entry.folder = CutToField(name, kInstalledFolderField);
    ui::StatusBoxUpdate("Scanning installed products", "Getting Product Information",
                        entry.displayLine.c_str());
    state.InstalledProducts.push_back(std::move(entry));
  }
  const int count = static_cast<int>(state.InstalledProducts.size());
  WriteLogf(0, "NumOfProducts: %d", count);
  return count;
}

CourseBuild ReadCourseBuild(const std::string& iniPath) {
  CourseBuild build;
  if (iniPath.empty() || !platform::IsRegularFile(iniPath)) return build;
  build.courseName =
      CutToField(ReadIniValue("nuvel.ini", "course_name", iniPath), kCourseNameField);
  build.fixLevel = std::atoi(ReadIniValue("nuvel.ini", "fix_level", iniPath).c_str());
  std::string fix_version = ReadIniValue("nuvel.ini", "fix_version", iniPath);
  build.hasFixVersion = !fix_version.empty();
  build.fixVersion = std::atoi(fix_version.c_str());
  return build;
}

bool IsMoreRecentBuild(const CourseBuild& source, const CourseBuild& installed, bool forced) {
  if (source.courseName.empty() || !source.hasFixVersion) return false;
  // The fix version counts only within one fix level: 361.9 is older than 362.5.
  const bool newer =
      source.fixLevel > installed.fixLevel ||
      (source.fixLevel == installed.fixLevel && source.fixVersion > installed.fixVersion);
  return newer || forced;
}

std::string InstalledCourseIniPath(const std::string& folder) {
  if (base::Paths().installDirectoryPath.empty() || folder.empty()) return "";
  for (const char* where : {"content", "launch"}) {
    std::string path = base::ExistingPathAnyCase(base::GetNuvelIniPath(base::Path(where), folder));
    if (!path.empty()) return path;
  }
  return "";
}

std::string SourceCourseIniPath(const std::string& folder) {
  return Join(SourceRoot(), "Nuvel/content/" + folder + "/NUVEL.INI");
}

int CheckInstallations(const UpdateAllProductsFunction& update) {
  WriteLogf(0, "CheckInstallations");
  if (prodTotal() == 1) {
    WriteLogf(1, "CheckInstallations: the source holds one product, nothing to compare");
    return 0;
  }
  const bool control = ui::IsControlKeyHeldDown();
  std::string courses;
  int count = 0;
  for (const std::string& name : SortedFolders(base::Paths().DataPath)) {
    if (name[0] == '.') continue;
    const CourseBuild source = ReadCourseBuild(SourceCourseIniPath(name));
    const CourseBuild installed = ReadCourseBuild(InstalledCourseIniPath(name));
    if (!IsMoreRecentBuild(source, installed, control)) continue;
    WriteLogf(1, "More recent on the source: %s (%d.%d over %d.%d)", name.c_str(), source.fixLevel,
              source.fixVersion, installed.fixLevel, installed.fixVersion);
    courses += source.courseName + "\r";
    ++count;
  }
  if (count == 0) return 0;

  const char* heading =
      count == 1 ? "MSG_Message_AMoreRecentVersion" : "MSG_Message_MoreRecentVersions";
  const char* question = count == 1 ? "MSG_Message_UpdateItNow" : "MSG_Message_UpdateThemNow";
  const std::string message =
      base::StrRez(0, heading) + "  " + base::StrRez(0, question) + "\r\r" + courses;
  const int answer =
      ui::Ask({.id = heading, .message = message, .buttons = {"MSG_Button_Yes", "MSG_Button_No"}});
  if (answer != 1) return 0;
  if (!update) {
    WriteLogf(0, "ERROR: CheckInstallations has no update to run");
    return 0;
  }
  const int result = update(control);
  WriteLogf(1, "CheckInstallations: update ended with %d", result);
  return result == 0 ? 1 : 0;
}

std::string LanguageNameOfCode(std::string_view code) {
  for (const LanguageKey& entry : kLanguageKeys) {
    if (entry.code != code) continue;
    std::string name = base::StrRez(0, entry.key);
    return name.empty() || name == entry.key ? std::string(code) : name;
  }
  return std::string(code);
}

std::string FolderCode(std::string_view folder) {
  return folder.size() > 3 ? base::UpperAscii(folder.substr(3, 3)) : "";
}

int ProductNumberOfFolder(std::string_view name) {
  int number = 0;
  for (std::size_t i = 0; i < 3 && i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

bool IsExcludedFromSourceScan(int productNumber) {
  return std::find(kExcludedFromSourceScan.begin(), kExcludedFromSourceScan.end(), productNumber) !=
         kExcludedFromSourceScan.end();
}

bool IsSafeProductFolderName(std::string_view name) {
  return !name.empty() && name[0] != '.' && !Contains(name, "/") && !Contains(name, "\\") &&
         !Contains(name, "..");
}

// ---- The installation disc --------------------------------------------------------------------

int FindAMIDCD(std::string& path) {
  path.clear();
  SourceState& state = Sources();
  std::vector<platform::Volume> volumes;
  if (std::error_code ec = platform::MountedVolumes(volumes)) {
    WriteLogf(0, "ERROR: FindAMIDCD cannot list the mounted volumes: %s", ec.message().c_str());
  }
  for (const platform::Volume& volume : volumes) {
    // One line per mounted volume: at the default level this would bury the log in pseudo file
    // systems, so it is file-level tracing.
    WriteLogf(4, "HGetVolParms returned %d with name of '%s'", 0, volume.mountPoint.c_str());
    if (!volume.readOnly || !platform::IsRegularFile(Join(volume.mountPoint, "VERSION"))) continue;
    if (!platform::IsDirectory(Join(volume.mountPoint, "install")) &&
        !platform::IsDirectory(Join(volume.mountPoint, "INSTALL"))) {
      continue;
    }
    state.gCDVolRefNum = volume.number;
    state.cdMountPath = volume.mountPoint;
    path = volume.mountPoint;
    WriteLogf(0, "Found Installation CD-ROM %d and name is '%s'.", volume.number,
              volume.mountPoint.c_str());
    return 1;
  }
  state.gCDVolRefNum = 0;
  state.cdMountPath.clear();
  return 0;
}

int VerifyVersionFile(const std::string& volume, std::string* line) {
  std::string data;
  if (!ReadSourceFile(Join(volume, "VERSION"), data)) return 0;
  if (line) {
    *line = data.substr(0, std::min(data.find_first_of("\r\n"), kVersionLineMax));
  }
  return 1;
}

int Installer_Disk_Inserted(int acceptAny) {
  WriteLogf(0, "Making Sure The Installation Disk Is Inserted");
  SourceState& state = Sources();
  base::RunState& run = base::Run();
  for (;;) {
    std::string root;
    FindAMIDCD(root);
    WriteLogf(0, "CD_ROM: %s", root.c_str());
    if (root.empty()) root = run.current_dir.empty() ? platform::ApplicationFolder() : SourceRoot();

    std::string line;
    bool accepted = false;
    if (VerifyVersionFile(root, &line)) {
      if (acceptAny == 1) {
        state.rememberedVersionLine = line;
        state.versionLineRemembered = true;
        run.ContentCD_MID = line.size() >= 36 && line.compare(34, 2, "SC") == 0 ? 1 : 0;
        accepted = true;
      } else {
        accepted = state.versionLineRemembered && line == state.rememberedVersionLine;
      }
    } else {
      accepted = !state.versionLineRemembered || acceptAny == 1;
    }
    if (accepted) return 1;

    // Skipping is not offered when the Setup and the content share the disc the Setup runs
    // from: without it nothing can go on.
    const bool offerSkip = !(run.ContentCD_MID && RunningFromDisc());
    CD_Eject();
    ui::CurrentBackend().Beep();
    const int answer =
        ui::Ask({.id = "MSG_Message_InsertCD",
                 .message = base::StrRezf(0, "MSG_Message_InsertCD", {"Installation"}),
                 .buttons = {"MSG_Button_OK", offerSkip ? "MSG_Button_Skip" : ""}});
    if (answer == 1 && !run.quitFlag) continue;
    WriteLogf(0, "The installation disc was skipped");
    state.Disc_Insert_OK = 0;
    ui::Prompts().Disc_Insert_OK = 0;
    return 0;
  }
}

void CD_Eject() {
  SourceState& state = Sources();
  if (state.cdMountPath.empty()) {
    state.gCDVolRefNum = 0;
    return;
  }
  if (std::error_code ec = platform::EjectVolume(state.cdMountPath)) {
    WriteLogf(1, "CD_Eject: could not eject %s: %s", state.cdMountPath.c_str(),
              ec.message().c_str());
  } else {
    WriteLogf(1, "CD_Eject: ejected %s", state.cdMountPath.c_str());
  }
  state.gCDVolRefNum = 0;
  state.cdMountPath.clear();
}

// ---- Free space ------------------------------------------------------------------------------

std::uint64_t GetSpaceFree(const std::string& volumePath) {
  std::uint64_t bytes = 0;
  if (std::error_code ec = platform::FreeSpace(volumePath, bytes)) {
    WriteLogf(0, "ERROR: free space of '%s' unknown: %s", volumePath.c_str(), ec.message().c_str());
    return 0;
  }
  return bytes;
}

int CheckAvailSpace(const std::string& path, std::uint64_t bytesNeeded) {
  const std::uint64_t available = GetSpaceFree(path);
  WriteLogf(0, "Hard Disk Space Needed=%5.2fMB   Space Available=%5.2fMB",
            static_cast<double>(bytesNeeded) / kBytesPerMB,
            static_cast<double>(available) / kBytesPerMB);
  if (available >= bytesNeeded) return 1;

  std::string courseware =
      base::Run().szCoursewareName.empty() ? "Nuvel" : base::Run().szCoursewareName;
  const std::string message =
      base::StrRezf(0, "MSG_Message_BytesFreeOnDrive", {VolumeName(path), Megabytes(available)}) +
      "\r" + base::StrRezf(0, "MSG_Message_NuvelFreeSpace", {courseware, Megabytes(bytesNeeded)}) +
      "\r" + base::StrRez(0, "MSG_Message_MakeMoreSpaceAvailable");
  ui::Ask({.id = "MSG_Message_BytesFreeOnDrive",
           .message = message,
           .title = "MSG_Message_MakeMoreSpaceAvailable",
           .buttons = {"MSG_Button_OK"}});
  return 0;
}

// ---- Messages --------------------------------------------------------------------------------

int SetupOpenLocalLoc() {
  WriteLogf(0, "SetupOpenLocalLoc");
  const std::string candidates[] = {
      Join(SourceDataFolder(), kEngineMessageFile),
      Join(Join(SourceDataFolder(), "support"), kEngineMessageFile),
      platform::ShippedDataFile(kEngineMessageFile),
  };
  std::string found;
  for (const std::string& candidate : candidates) {
    if (!candidate.empty() && platform::IsRegularFile(candidate)) {
      found = candidate;
      break;
    }
  }
  if (found.empty()) {
    WriteLogf(0, "ERROR: SetupOpenLocalLoc found no %s", kEngineMessageFile);
    return 0;
  }

  std::string open = found;
  const std::string local = Join(base::Paths().localNuvelDirectory, kEngineMessageFile);
  if (local == found) {
    open = local;
  } else if (!local.empty()) {
    if (std::error_code ec = platform::CopyFileContents(found, local)) {
      WriteLogf(0, "ERROR: SetupOpenLocalLoc could not copy %s to %s: %s", found.c_str(),
                local.c_str(), ec.message().c_str());
    } else {
      open = local;
    }
  }
  // The slot may hold an older message file, or this one before the copy replaced it.
  if (base::Strings().slots[0].fIsResourceInUse) base::CloseStrRez(0);
  WriteLogf(1, "SetupOpenLocalLoc: %s", open.c_str());
  return base::OpenMessageFile(0, open) ? 1 : 0;
}

}  // namespace nuvel::installer
