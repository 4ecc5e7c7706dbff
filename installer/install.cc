#include "installer/install.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/expand.h"
#include "installer/install_dialog.h"
#include "installer/product_table.h"
#include "installer/selection.h"
#include "installer/sources.h"
#include "platform/copy.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/prompts.h"
#include "ui/run_report.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

using base::IsYes;
using base::WriteLogf;

constexpr std::uint64_t kBytesPerMB = 1048576;
constexpr std::string_view kMultimediaContent = "Multimedia Content:";
constexpr std::string_view kVersionNotice =
    "Course content installed by Nuvel Setup. The launcher reads this file; do not edit it.";

// ---- Paths ------------------------------------------------------------------------------------

using platform::Join;

// The parent of a folder ("/a/b" -> "/a").
std::string Parent(const std::string& folder) {
  std::string path = platform::WithoutTrailingSlash(folder);
  base::StripOffFilename(path);
  return path.empty() ? "/" : path;
}

std::string SourceRoot() { return platform::WithoutTrailingSlash(base::Run().current_dir); }

// The course content comes from the course source, which is the source itself unless the driver
// found the content on a disc of its own.
std::string CourseSourceRoot() {
  const std::string& course = base::Run().The_Course_CD_ROM;
  return course.empty() ? SourceRoot() : platform::WithoutTrailingSlash(course);
}

// The folder holding the product folders: the folder of the source's setup.ini.
std::string SourceProductsFolder() {
  const std::string& setupIni = base::Run().szDefaultIniFile;
  if (!setupIni.empty()) {
    std::string folder, file;
    base::SeparatePathAndFile(setupIni, folder, file);
    if (!folder.empty()) return platform::WithoutTrailingSlash(folder);
  }
  return Join(SourceRoot(), "install/data");
}

std::string VersionsIni() { return Join(SourceRoot(), "install/data/versions.ini"); }

// The launch folder (the course data folder) and the installation folder above it.
std::string LaunchFolder() {
  std::string data = platform::WithoutTrailingSlash(base::Paths().DataPath);
  return data.empty() ? platform::WithoutTrailingSlash(base::Path("launch")) : data;
}
std::string InstallationFolder() { return Parent(LaunchFolder()); }

// The content folder: "launch" at the end of the launch folder becomes "content".
std::string ContentFolder() {
  std::string launch = LaunchFolder();
  constexpr std::string_view kLaunch = "launch";
  if (launch.ends_with(kLaunch)) {
    return launch.substr(0, launch.size() - kLaunch.size()) + "content";
  }
  return Join(Parent(launch), "content");
}

// The product's content folder on the course source ("content_d" when courses are downloaded).
std::string SourceCourseFolder(const std::string& folder) {
  const char* content = Selection().force_download_courses ? "Nuvel/content_d" : "Nuvel/content";
  return Join(Join(CourseSourceRoot(), content), folder);
}

// The path under which a file of the source or the installation really exists, whatever the
// case of its name; the path itself when there is none.
std::string AnyCase(const std::string& path) {
  std::string found = base::ExistingPathAnyCase(path);
  return found.empty() ? path : found;
}

// ---- Small helpers ----------------------------------------------------------------------------

std::string ReadIni(std::string_view section, std::string_view key, std::string_view def,
                    const std::string& file) {
  if (file.empty() || !platform::IsRegularFile(file)) return std::string(def);
  return base::ProfileValue(section, key, def, file);
}

bool WriteIni(std::string_view section, std::string_view key, std::string value,
              const std::string& file) {
  if (base::StoreProfileValue(section, key, value, file)) {
    WriteLogf(0, "ERROR: could not write %.*s=%s into %s", static_cast<int>(key.size()), key.data(),
              value.c_str(), file.c_str());
    return false;
  }
  return true;
}

// A course whose source nuvel.ini says force_local is installed in the local system folder:
// its startup files in "launch" and its content in "content" there. Every other course goes to
// the installation's launch and content folders.
bool IsForcedLocal(const std::string& folder) {
  const std::string ini = AnyCase(Join(Join(SourceProductsFolder(), folder), "nuvel.ini"));
  return IsYes(ReadIni("nuvel.ini", "force_local", "", ini));
}
std::string ProductLaunchFolder(const std::string& folder) {
  return IsForcedLocal(folder) ? Join(base::Paths().localNuvelDirectory, "launch") : LaunchFolder();
}
std::string ProductContentFolder(const std::string& folder) {
  return IsForcedLocal(folder) ? Join(base::Paths().localNuvelDirectory, "content")
                               : ContentFolder();
}

// The folder name with its three-letter code replaced ("005MUL50", "GRA" -> "005GRA50").
std::string WithCode(std::string folder, std::string_view code) {
  if (folder.size() >= 6) folder.replace(3, 3, code);
  return folder;
}

int FolderNumber(const std::string& folder) { return ProductNumberOfFolder(folder); }

bool IsMainCourseEdition(const std::string& folder) {
  return FolderNumber(folder) == kMainCourseEdition && FolderCode(folder) != kMainCourseTwinCode;
}

// The blank-separated codes of a list, upper-cased.
std::vector<std::string> CodesOf(std::string_view list) {
  std::vector<std::string> codes;
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find(' ', at);
    if (end == std::string_view::npos) end = list.size();
    if (end > at) codes.push_back(base::UpperAscii(list.substr(at, end - at)));
    at = end + 1;
  }
  return codes;
}

bool Fail(const char* format, const std::string& a, const std::string& b = "",
          const std::string& c = "") {
  WriteLogf(0, format, a.c_str(), b.c_str(), c.c_str());
  base::Run().copyFailed = 1;
  return false;
}

bool StopWanted() {
  const base::RunState& run = base::Run();
  return run.copyFailed || run.fExit || run.quitFlag;
}

// The entries (or only the folders) of `folder` sorted by name, so that every run treats them
// in the same order.
std::vector<std::string> SortedEntries(const std::string& folder, bool foldersOnly) {
  std::vector<platform::DirEntry> entries;
  std::vector<std::string> names;
  if (platform::ListDirectoryEntries(folder, entries)) return names;
  for (platform::DirEntry& entry : entries) {
    if (!foldersOnly || entry.is_directory) names.push_back(std::move(entry.name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The bytes of every file below `folder`, for the progress bar.
std::uint64_t TreeBytes(const std::string& folder) {
  std::uint64_t total = 0;
  std::vector<std::string> pending{folder};
  std::vector<platform::TreeEntry> entries;
  while (!pending.empty()) {
    std::string current = std::move(pending.back());
    pending.pop_back();
    if (platform::ListTreeEntries(current, entries)) continue;
    for (const platform::TreeEntry& entry : entries) {
      std::string path = Join(current, entry.name);
      if (entry.kind == platform::ObjectKind::kDirectory) {
        pending.push_back(path);
      } else if (entry.kind == platform::ObjectKind::kFile) {
        std::uint64_t size = 0;
        if (!platform::FileSize(path, size)) total += size;
      }
    }
  }
  return total;
}

// ---- The status box ----------------------------------------------------------------------------

bool OverallProgress() { return ui::StatusBox().Status_Bar == 2; }

// Opens the status box with a fresh bar whose maximum is `bytes` (a bar of unknown size counts
// items). An overall bar spanning several operations is left to run on.
void OpenProgress(const std::string& text, const std::string& detail, std::uint64_t bytes) {
  ui::StatusBoxCreate();
  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied", text.c_str(), detail.c_str());
  if (OverallProgress()) return;
  CopyEngineState& progress = CopyEngine();
  progress.gBytesTransferred = 0;
  progress.gBytesToTransfer = bytes > 0 ? bytes : kCyclingBarTotal;
  setupProgressBar(1);
}

void CloseProgress() {
  if (!OverallProgress()) hideProgressBar();
  ui::StatusBoxDestroy();
}

// Keeps the status box open while nested operations (an archive's expansion) close theirs.
class StatusBoxHeldOpen {
 public:
  StatusBoxHeldOpen() { ++ui::StatusBox().Status_Box_Leave_Open; }
  ~StatusBoxHeldOpen() { --ui::StatusBox().Status_Box_Leave_Open; }
  StatusBoxHeldOpen(const StatusBoxHeldOpen&) = delete;
  StatusBoxHeldOpen& operator=(const StatusBoxHeldOpen&) = delete;
};

// ---- Options and the selection ------------------------------------------------------------------

// The per-product options: each product starts from the defaults, then the source's setup.ini
// and the product's own file (which wins) are read.
void CheckIniValues(const std::string& setupIni, const std::string& overrideIni) {
  InstallOptions& options = InstallOpts();
  options.all = 1;
  options.minimal = 0;
  options.askeng = -1;
  options.forceeng = -1;
  options.runfromcd = -1;
  options.engine_ver.clear();
  for (const std::string& file : {setupIni, overrideIni}) {
    if (file.empty() || !platform::IsRegularFile(file)) continue;
    // A yes/no key sets its flag to 1 or 0; any other value leaves it as it was.
    auto yes_no = [&](const char* key, int& flag) {
      if (std::optional<bool> yes = base::YesNoValue(ReadIni("Nuvel", key, "", file))) flag = *yes;
    };
    yes_no("all", options.all);
    yes_no("minimal", options.minimal);
    yes_no("askeng", options.askeng);
    yes_no("forceeng", options.forceeng);
    yes_no("runfromcd", options.runfromcd);
    std::string engine = ReadIni("Nuvel", "engine_ver", "", file);
    if (!engine.empty()) options.engine_ver = engine;
  }
  if (options.forceeng == 1) options.askeng = 0;
}

// The multi-language table's chosen entry while a multilingual product is being installed.
const LanguageEntry* ChosenMultiLanguage() {
  const SelectionState& sel = Selection();
  if (!sel.fMultiLingualProduct || sel.nLangType < 0 || sel.nLangType >= kMLangTableSize) {
    return nullptr;
  }
  return &sel.MLangTable[sel.nLangType];
}

const FamilyRow* FamilyOf(const std::string& folder) {
  const std::string number = folder.substr(0, 3);
  for (const FamilyRow& row : Selection().fam) {
    if (row.number == number) return &row;
  }
  return nullptr;
}

bool ValidProduct(int index) { return index >= 0 && index < prodTotal(); }

// A run ended between writing a file's new version and putting it in place leaves the new
// version under a temporary name in a folder that is about to be written again.
void RemoveStaleWrites(const std::string& folder) {
  for (const std::string& path : platform::RemoveStaleAtomicWriteFiles(folder)) {
    WriteLogf(2, "Removed the file of an interrupted write: %s", path.c_str());
  }
}

// ---- Records -----------------------------------------------------------------------------------

// Copies the product folder's version from the source's versions.ini into records.ini.
void RecordVersion(const std::string& folder, std::string_view def) {
  const std::string key = base::LowerAscii(folder);
  WriteIni("Records", key, ReadIni("Records", key, def, VersionsIni()), base::Path("records.ini"));
}

// ---- Startup files ------------------------------------------------------------------------------

// Copies one product folder of the source into the launch folder.
bool CopyStartupFolder(const std::string& from, const std::string& to) {
  const int error = XcopyFilesWithScrollBar(from, to, 0, 0, "");
  if (error == 0) return true;
  WriteLogf(0, "ERROR: could not copy the startup files %s to %s (%d)", from.c_str(), to.c_str(),
            error);
  base::Run().copyFailed = 1;
  return false;
}

// The language recorded for a product installed as multilingual, "" for any other product.
// `productFolder` holds one folder per support language with its lesson index.
std::string LanguageToRecord(const FoundProduct& product, const std::string& productFolder) {
  const SelectionState& sel = Selection();
  if (!sel.fMultiLingualProduct) return "";
  const bool placementTest = ProductIsAPlacementTest(FolderNumber(product.folder)) != 0;
  const std::string& remembered = Install().rememberedLanguage;
  std::string code;
  if (sel.install_selected_courses && remembered.size() == 3) {
    code = placementTest ? "MUL" : remembered;
  } else {
    const LanguageEntry* chosen = ChosenMultiLanguage();
    code = chosen ? base::UpperAscii(chosen->code) : "ALL";
    if (code == "ALL") {
      code = "MUL";
    } else if (placementTest && code != "MUL" && code != "GEN" && code != "KID") {
      code = "MUL";
    }
  }
  if (code != "MUL" &&
      !platform::IsRegularFile(AnyCase(Join(productFolder, code + "/LESSONS.C")))) {
    WriteLogf(1, "No lessons for %s in %s: recorded as ENG", code.c_str(), productFolder.c_str());
    code = "ENG";
  }
  return code;
}

// The checks against a copy of the product that is installed already. False when the user
// refused (fCancel set).
bool AcceptInstalledCopy(const FoundProduct& product, const std::string& sourceFolder,
                         const std::string& installedFolder) {
  const std::string installedIni = base::ExistingPathAnyCase(Join(installedFolder, "nuvel.ini"));
  if (installedIni.empty()) return true;
  // The copy of a run that was ended half-way: nothing anybody chose is installed yet.
  if (platform::Exists(Join(installedFolder, kInstallingMark))) return true;
  const std::string sourceIni = AnyCase(Join(sourceFolder, "nuvel.ini"));
  const int installedLevel =
      std::atoi(ReadIni("nuvel.ini", "fix_level", "0", installedIni).c_str());
  const std::string installedLanguage = ReadIni("nuvel.ini", "language", "", installedIni);
  const int sourceLevel = std::atoi(ReadIni("nuvel.ini", "fix_level", "0", sourceIni).c_str());
  WriteLogf(1, "%s is installed: fix_level %d (source %d), language %s", product.folder.c_str(),
            installedLevel, sourceLevel, installedLanguage.c_str());

  if (installedLevel > sourceLevel &&
      ui::Ask({.id = "MSG_FixLevelLower",
               .message = "MSG_FixLevelLower",
               .buttons = {"MSG_Button_Install", "MSG_Button_Cancel"}}) != 1) {
    WriteLogf(0, "Not installed: a newer build of %s is installed", product.folder.c_str());
    base::Run().fCancel = 1;
    return false;
  }
  const std::string newLanguage = LanguageToRecord(product, sourceFolder);
  if (!newLanguage.empty() && !installedLanguage.empty() &&
      !base::EqualsIgnoreCase(newLanguage, installedLanguage)) {
    const std::string message = base::StrRez(0, "MSG_Message_AlreadyInstalled3") + "\r\r" +
                                base::StrRez(0, "MSG_Message_AlreadyInstalled4");
    if (ui::Ask({.id = "MSG_Message_AlreadyInstalled3",
                 .message = message,
                 .buttons = {"MSG_Button_Install", "MSG_Button_Cancel"}}) != 1) {
      WriteLogf(0, "Not installed: %s stays installed with %s", product.folder.c_str(),
                installedLanguage.c_str());
      base::Run().fCancel = 1;
      return false;
    }
  }
  return true;
}

// Amends the installed nuvel.ini: the language recorded and the English-only flag. False when
// the file could not be written: the course would run in a language nobody chose.
bool RecordLanguage(const FoundProduct& product, const std::string& installedFolder) {
  const std::string installedIni = AnyCase(Join(installedFolder, "nuvel.ini"));
  std::string language = LanguageToRecord(product, installedFolder);
  if (!language.empty()) {
    if (language == "MUL" && ProductIsASpeakingTest(FolderNumber(product.folder)) &&
        base::CurrentLanguageCode() != "JPN") {
      language = "ENG";
    }
    if (!WriteIni("nuvel.ini", "language", language, installedIni)) return false;
  }
  return !Install().fTurnEngOnlyFlagOn || WriteIni("nuvel.ini", "english_only", "y", installedIni);
}

// The product's options, from the source's setup.ini and the product's own. A choice of English
// only belongs to one product, so it starts off again.
void ReadProductOptions(const std::string& sourceFolder) {
  base::RunState& run = base::Run();
  run.szOverrideIniFile = AnyCase(Join(sourceFolder, "SETUP.INI"));
  CheckIniValues(run.szDefaultIniFile, run.szOverrideIniFile);
  Install().fTurnEngOnlyFlagOn = 0;
}

// The install dialog, where the source asks for it and the product was not chosen among several
// courses. False when the user quit or did not confirm (fCancel set).
bool ConfirmInstallation(int index, const std::string& folder) {
  if (!InstallOpts().force_show_confirm_install_screen || Selection().install_selected_courses) {
    return true;
  }
  base::RunState& run = base::Run();
  const int answer = CallInstallDialog(index);
  if (run.fExit) return false;
  if (answer != kInstallItemInstall) {
    WriteLogf(0, "Installation of %s cancelled", folder.c_str());
    run.fCancel = 1;
    return false;
  }
  Install().fInstall = 1;
  return true;
}

void LogProductBeingInstalled(const FoundProduct& product, const LanguageEntry* chosen) {
  const std::string code = chosen ? chosen->code : FolderCode(product.folder);
  const std::string languageName = chosen ? chosen->name : product.language;
  WriteLogf(0, "Installing: %s (%s) (%s - %s)", product.courseName.c_str(), product.folder.c_str(),
            code.c_str(), languageName.c_str());
}

// The launch folder that receives the product (the local system folder's for a course that must
// be local).
std::string LaunchFolderOfProduct(const std::string& folder) {
  const std::string launch = ProductLaunchFolder(folder);
  if (IsForcedLocal(folder)) {
    WriteLogf(1, "%s is installed locally in %s", folder.c_str(), launch.c_str());
  }
  return launch;
}

// Makes the product's folders in `launch` (the main course edition has a twin) and marks them as
// installing before anything is copied into them, so that a run ended in the middle leaves no
// course that looks installed. FinishInstalledCourses removes the marks.
bool MakeMarkedProductFolders(const std::string& launch, const std::string& folder) {
  std::vector<std::string> folders{folder};
  if (IsMainCourseEdition(folder)) folders.push_back(WithCode(folder, kMainCourseTwinCode));
  for (const std::string& name : folders) {
    const std::string path = Join(launch, name);
    if (std::error_code ec = platform::MakeDirectories(path)) {
      return Fail("ERROR: InstallProducts could not create %s: %s", path, ec.message());
    }
    RemoveStaleWrites(path);
    if (std::error_code ec = platform::WriteFileAtomic(Join(path, kInstallingMark), "")) {
      return Fail("ERROR: InstallProducts could not mark %s: %s", path, ec.message());
    }
    Install().unfinished.push_back(path);
  }
  return true;
}

// The status box of product number k, with a bar sized to its startup files.
void OpenStartupFilesProgress(int k, const FoundProduct& product, const std::string& sourceFolder) {
  const int total = Install().nTotalToInstall;
  std::string title = "Startup Files:";
  if (total > 1) {
    title = "Startup Files (" + std::to_string(k) + "/" + std::to_string(total) + "):";
  }
  OpenProgress(title, product.courseName, TreeBytes(sourceFolder));
}

// The support language chosen for the selection; the products installed after this one as part
// of several courses record it too (LanguageToRecord).
void RememberSelectionLanguage(const LanguageEntry* chosen) {
  if (chosen && !base::EqualsIgnoreCase(chosen->code, "ALL")) {
    Install().rememberedLanguage = base::UpperAscii(chosen->code);
  }
}

// Copies the startup files into the product's folder in `launch`, and into the twin of the main
// course edition.
bool CopyStartupFiles(const std::string& sourceFolder, const std::string& launch,
                      const std::string& folder) {
  bool copied = CopyStartupFolder(sourceFolder, Join(launch, folder));
  if (copied && IsMainCourseEdition(folder)) {
    copied = CopyStartupFolder(sourceFolder, Join(launch, WithCode(folder, kMainCourseTwinCode)));
  }
  return copied;
}

// Counts the product as installed, with all its parts.
void CountAsInstalled(FoundProduct& product) {
  base::RunState& run = base::Run();
  ++run.num_of_products;
  run.actuallyInstalledSomething = 1;
  product.installed = 1;
  product.parts = std::string(kAllParts);
}

// The technologies the installed course needs: speech recognition when its nuvel.ini asks for
// it, text to speech for the product that is about it.
void NoteNeededTechnologies(FoundProduct& product, const std::string& installedFolder) {
  InstallState& state = Install();
  if (IsItLH(AnyCase(Join(installedFolder, "nuvel.ini")))) {
    state.installLH = 1;
    product.speechRecognition = 1;
  }
  if (FolderNumber(product.folder) == kTextToSpeechProduct) state.installTTS = 1;
}

// The redirector folder of older launchers, when the product's setup.ini (or else the source's)
// asks for it.
void MakeRedirectorFolderIfAsked(const std::string& folder) {
  const base::RunState& run = base::Run();
  std::string redirector = ReadIni("Nuvel", "install_redirector_mac", "N", run.szDefaultIniFile);
  redirector = ReadIni("Nuvel", "install_redirector_mac", redirector, run.szOverrideIniFile);
  if (IsYes(redirector)) MakeOldStyleDirectory(folder);
}

// An Internet installation keeps the course's version file with its content.
void KeepVersionFileWithContent(const std::string& folder) {
  if (!base::Run().Internet) return;
  const std::string content = Join(ContentFolder(), folder);
  const std::string version = AnyCase(Join(SourceCourseFolder(folder), "VERSION"));
  if (platform::MakeDirectories(content) ||
      DuplicateMyFile(version, Join(content, "VERSION"), 0) == 0) {
    Fail("ERROR: InstallProducts could not copy %s into %s", version, content);
  }
}

// Installs product number k (1-based) of installOrder. False when the installation stops.
bool InstallOneProduct(int k) {
  SelectionState& sel = Selection();
  InstallState& state = Install();
  state.nInstalling = k;
  const int index = sel.installOrder[static_cast<std::size_t>(k - 1)];
  if (!ValidProduct(index) || !IsSafeProductFolderName(Sources().prodList[index].folder)) {
    return Fail("ERROR: InstallProducts: no product %s to install", std::to_string(index));
  }
  state.installingProd = index;
  FoundProduct& product = Sources().prodList[index];
  const std::string folder = product.folder;
  const std::string sourceFolder = Join(SourceProductsFolder(), folder);

  ReadProductOptions(sourceFolder);
  if (!ConfirmInstallation(index, folder)) return false;
  const LanguageEntry* chosen = ChosenMultiLanguage();
  LogProductBeingInstalled(product, chosen);
  const std::string launch = LaunchFolderOfProduct(folder);
  const std::string installedFolder = Join(launch, folder);
  if (!AcceptInstalledCopy(product, sourceFolder, installedFolder)) return false;
  // A course already in place (without the mark of an unfinished installation) is updated.
  ui::ReportCourseStarted(folder, product.courseName,
                          platform::IsDirectory(installedFolder) &&
                              !platform::Exists(Join(installedFolder, kInstallingMark)));

  Installer_Disk_Inserted(0);
  if (!MakeMarkedProductFolders(launch, folder)) return false;
  OpenStartupFilesProgress(k, product, sourceFolder);
  RememberSelectionLanguage(chosen);
  if (!CopyStartupFiles(sourceFolder, launch, folder)) {
    CloseProgress();
    return false;
  }
  CountAsInstalled(product);
  if (!RecordLanguage(product, installedFolder)) {
    CloseProgress();
    return Fail("ERROR: InstallProducts could not record the language of %s", installedFolder);
  }
  NoteNeededTechnologies(product, installedFolder);
  MakeRedirectorFolderIfAsked(folder);
  KeepVersionFileWithContent(folder);

  // Drops the cache of the settings files that this product read.
  base::FreePrivateProfile();
  CloseProgress();
  return !base::Run().copyFailed;
}

// ---- Content ----------------------------------------------------------------------------------

CourseDownload& CourseDownloader() {
  static CourseDownload download;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::course download", [] { download = nullptr; });
  return download;
}

bool OnHandledList(const std::string& archive) {
  for (const std::string& name : CodesOf(Install().handledArchives)) {
    if (name == base::UpperAscii(archive)) return true;
  }
  return false;
}

void AddToHandledList(const std::string& archive) {
  std::string& list = Install().handledArchives;
  const std::size_t grown = list.size() + (list.empty() ? 0 : 1) + archive.size();
  if (grown > kHandledArchivesMax) {
    WriteLogf(1, "The handled-archive list is full; %s is not added", archive.c_str());
    return;
  }
  if (!list.empty()) list += ' ';
  list += archive;
}

// The archives of the course in courses_d, by subfolder code: names of 16 characters that begin
// with the product folder name ("001MUL50_COM.EXE").
std::vector<std::pair<std::string, std::string>> CourseArchives(const std::string& archives,
                                                                const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> found;
  for (const std::string& name : SortedEntries(archives, false)) {
    if (name.size() == 16 && base::EqualsIgnoreCase(name.substr(0, 8), folder)) {
      found.emplace_back(name.substr(9, 3), name);
    }
  }
  return found;
}

// The real file of a media placeholder in the source's audio folders.
std::string RealMediaFile(const ContentChoice& choice, const std::string& name) {
  const bool fifthOrLater = choice.folder.size() > 6 && choice.folder[6] >= '5';
  const std::string audio =
      Join(CourseSourceRoot(), fifthOrLater ? "Nuvel/audio_d_50" : "Nuvel/audio_d");
  std::string path = Join(audio, name);
  if (platform::IsRegularFile(path)) return path;
  if (FolderNumber(choice.folder) == kSharedMediaCourse && name.size() >= 4) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", kSharedMediaSibling);
    std::string sibling = name;
    sibling.replace(1, 3, number);
    std::string siblingPath = Join(audio, sibling);
    if (platform::IsRegularFile(siblingPath)) return siblingPath;
  }
  return "";
}

bool IsMediaName(const std::string& name) {
  const std::string upper = base::UpperAscii(name);
  for (std::string_view extension : {".MOV", ".MP3", ".MP4"}) {
    if (upper.find(extension) != std::string::npos) return true;
  }
  return false;
}

// Replaces every media placeholder of an expanded subfolder by its real file.
bool CompletePlaceholders(const ContentChoice& choice, const std::string& folder) {
  bool ok = true;
  for (const std::string& name : SortedEntries(folder, false)) {
    if (!IsMediaName(name) || IgnoreVideoFile(name, 0)) continue;
    const std::string path = Join(folder, name);
    std::uint64_t size = 0;
    if (!platform::IsRegularFile(path) || platform::FileSize(path, size) ||
        size >= kMediaPlaceholderLimit) {
      continue;
    }
    const std::string real = RealMediaFile(choice, name);
    if (real.empty()) {
      ok = Fail("ERROR: Copy_It3 %s", Join(folder, name));
      continue;
    }
    if (DuplicateMyFile(real, path, 0) == 0) {
      ok = Fail("ERROR: Copy_It3 %s (copy from %s failed)", path, real);
    }
  }
  return ok;
}

// The archive's expansion deletes an archive that does not lie on the installation disc; one
// of the source must stay, so the source counts as that disc while it expands.
int ExpandSourceArchive(const std::string& destination, const std::string& archive) {
  base::RunState& run = base::Run();
  const std::string saved = run.The_CD_ROM;
  const std::string root = CourseSourceRoot();
  if (run.The_CD_ROM.empty() || archive.find(run.The_CD_ROM) == std::string::npos) {
    run.The_CD_ROM = root;
  }
  const int result = ExpandFile(destination, archive, 0);
  run.The_CD_ROM = saved;
  return result;
}

bool ExpandSubfolder(const ContentChoice& choice, const std::string& archives,
                     const std::string& name, const std::string& code,
                     const std::string& destination) {
  if (OnHandledList(name)) {
    WriteLogf(1, "Copy_It: %s was expanded earlier in this run", name.c_str());
    return true;
  }
  AddToHandledList(name);
  const std::string archive = Join(archives, name);
  std::uint64_t size = 0;
  if (!platform::IsRegularFile(archive) || platform::FileSize(archive, size)) {
    return Fail("ERROR: Copy_It1 %s %s %s", archive, destination, code);
  }
  if (!OverallProgress()) OpenProgress(std::string(kMultimediaContent), code, size);
  const std::string target = Join(destination, code);
  if (platform::MakeDirectories(target) || ExpandSourceArchive(target, archive) != 0) {
    return Fail("ERROR: Copy_It2 %s %s", archive, target);
  }
  return CompletePlaceholders(choice, target);
}

bool CopySubfolder(const ContentChoice& choice, const std::string& sourceCourse,
                   const std::string& code, const std::string& destination) {
  const std::string from = Join(sourceCourse, code);
  const std::string to = Join(destination, code);
  if (!OverallProgress()) {
    CopyEngine().gBytesTransferred = 0;
    CopyEngine().gBytesToTransfer = std::max<std::uint64_t>(TreeBytes(from), 1);
    setupProgressBar(1);
  }
  if (int error = XcopyFilesWithScrollBar(from, to, 1, 0, "")) {
    return Fail("ERROR: Copy_It %s %s (%s)", from, to, std::to_string(error));
  }
  if (Selection().force_download_courses) {
    const std::string archive = choice.folder + "_" + code + ".EXE";
    if (OnHandledList(archive)) return true;
    const std::string address = base::Run().DownloadAddress + "/courses_d";
    if (!CourseDownloader() || CourseDownloader()(to, archive, address) != 0) {
      return Fail("ERROR: Copy_It: %s could not be downloaded from %s", archive, address);
    }
    AddToHandledList(archive);
  }
  return true;
}

// The installed VERSION file: the identification line of the course, "PATH: DATA" followed by
// two line ends, and our notice.
std::string InstalledVersionFileText(const std::string& folder) {
  std::string line(kVersionLineTemplate);
  std::string name = folder;
  name.resize(std::max<std::size_t>(name.size(), 8), ' ');
  line.replace(0, 3, name.substr(0, 3));
  line.replace(4, 3, base::UpperAscii(name.substr(3, 3)));
  line[12] = name[6];
  line[14] = name[7];
  return line + "\r\nPATH: DATA\r\n\r\n" + std::string(kVersionNotice) + "\r\n";
}

// VERSION, NUVEL.INI, complete.txt and the part's marker, once every subfolder is in place.
bool FinishContent(const std::string& folder, const std::string& sourceCourse,
                   const std::string& destination, int part) {
  bool ok = true;
  const std::string from = platform::WithoutTrailingSlash(sourceCourse);
  const std::string to = platform::WithoutTrailingSlash(destination);
  RemoveStaleWrites(to);
  if (platform::WriteFileAtomic(Join(to, "VERSION"), InstalledVersionFileText(folder))) {
    ok = Fail("ERROR: ***Copy_It: Failed to copy %s/version %s/version", from, to);
  }
  if (DuplicateMyFile(AnyCase(Join(from, "NUVEL.INI")), Join(to, "NUVEL.INI"), 0) == 0) {
    ok = Fail("ERROR: ***Copy_It: Failed to copy %s/nuvel.ini %s/nuvel.ini", from, to);
  }
  if (DuplicateMyFile(AnyCase(Join(from, "complete.txt")), Join(to, "complete.txt"), 0) == 0) {
    ok = Fail("ERROR: ***Copy_It: Failed to copy %s/complete.ini %s/complete.ini", from, to);
  }
  char marker[16];
  std::snprintf(marker, sizeof marker, "disc.%02d", part);
  const std::string markerPath = Join(to, marker);
  if (platform::WriteFileAtomic(markerPath, "X")) {
    ok = Fail("ERROR: ***Copy_It: Could not create file: %s", markerPath);
  }
  return ok;
}

// Copies the parts of `parts` that the installed nuvel.ini (in `launch`/<folder>) names into
// `content`/<folder>.
void CopyProductParts(const ContentChoice& choice, const std::string& parts,
                      const std::string& familyCode, const std::string& launch,
                      const std::string& content) {
  const std::string installedIni = AnyCase(Join(Join(launch, choice.folder), "nuvel.ini"));
  const std::string destination = Join(content, choice.folder);
  for (char letter : parts) {
    if (StopWanted()) return;
    if (letter < 'A' || letter > 'P') continue;
    const int part = letter - 'A' + 1;
    char key[32];
    std::snprintf(key, sizeof key, "disc_name_install_%02d", part);
    if (ReadIni("nuvel.ini", key, "", installedIni).empty()) continue;

    int result = 0;
    {
      StatusBoxHeldOpen held;
      OpenProgress(std::string(kMultimediaContent), choice.folder, 0);
      result = CopyContentPart(choice, destination, part);
    }
    if (result != 0) {
      WriteLogf(0, "ERROR: Copy_The_Content %s", familyCode.c_str());
      return;
    }
    CloseProgress();
  }
}

// ---- Update ------------------------------------------------------------------------------------

// The content a course installed earlier takes, from the language recorded for it.
ContentChoice ChoiceOfInstalledCourse(const FoundProduct& product, const std::string& language) {
  ContentChoice choice;
  choice.folder = product.folder;
  choice.multilingual = product.multilingual != 0;
  if (!choice.multilingual) {
    choice.language = FolderCode(product.folder);
    return choice;
  }
  // The recorded language: a variant, one language, or all of them ("MUL").
  const std::string upper = base::UpperAscii(language);
  choice.language = upper.empty() || upper == "MUL" ? "ALL" : upper;
  choice.multiLanguages = product.languages;
  return choice;
}

// The companion applications and files of the installation, from the source.
void RefreshCompanions() {
  const std::string root = SourceRoot();
  const std::string installation = InstallationFolder();
  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied", "Executables", "");

  // The localized message file.
  for (const char* where : {"install/data/support/engine.luc", "install/data/engine.luc"}) {
    const std::string messages = Join(root, where);
    if (!platform::IsRegularFile(messages)) continue;
    const std::string support = platform::WithoutTrailingSlash(base::GetSupportDirectoryPath());
    if (platform::MakeDirectories(support) ||
        DuplicateMyFile(messages, Join(support, "engine.luc"), 0) == 0) {
      Fail("ERROR: UpdateAllProducts could not copy %s", messages);
    }
    break;
  }

  // The applications: install/MacOS holds the bundles (Launcher, Records Manager, Analyzer,
  // Freshen, Redirector, and the programs of older installations) and the technologies.
  const std::string apps = Join(root, "install/MacOS");
  if (platform::IsDirectory(apps)) {
    if (int error = XcopyFilesWithScrollBar(apps, installation, 0, 0, "")) {
      Fail("ERROR: UpdateAllProducts could not copy %s (%s)", apps, std::to_string(error));
    }
  }

  // The launcher picture.
  const std::string picture = Join(root, "install/data/Nuvel.jpg");
  if (platform::IsRegularFile(picture)) {
    const std::string target = base::Path("Nuvel.jpg");
    if (platform::MakeDirectories(Parent(target)) || DuplicateMyFile(picture, target, 0) == 0) {
      Fail("ERROR: UpdateAllProducts could not copy %s", picture);
    }
  }
  const std::string records = base::Path("records.ini");
  if (ReadIni("Records", "launcher_picture", "", records).empty()) {
    WriteIni("Records", "launcher_picture", "Nuvel.jpg", records);
  }
  for (const char* key : {"rm_ver", "launcher_ver", "engine_ver", "freshen_ver", "docIni_ver"}) {
    WriteIni("Records", key, ReadIni("Records", key, "0", VersionsIni()), records);
  }
  base::UpDateRecordsIniWithActualVersions();
  if (Install().installLH) Copy_Technologies();
}

// Updates one installed course from the source. False when the update must stop.
bool UpdateCourse(const std::string& name, const CourseBuild& source) {
  InstallState& state = Install();
  const std::string sourceFolder = Join(SourceProductsFolder(), name);
  if (!platform::IsDirectory(sourceFolder)) {
    WriteLogf(1, "UpdateAllProducts: the source has no startup files for %s", name.c_str());
    return true;
  }
  const std::string installedFolder = Join(LaunchFolder(), name);
  const std::string installedIni = AnyCase(Join(installedFolder, "nuvel.ini"));
  const std::string englishOnly = ReadIni("nuvel.ini", "english_only", "", installedIni);
  const std::string sr = ReadIni("nuvel.ini", "sr", "", installedIni);
  const std::string language = ReadIni("nuvel.ini", "language", "", installedIni);
  WriteLogf(0, "Updating: %s (%s)", source.courseName.c_str(), name.c_str());
  ui::ReportCourseStarted(name, source.courseName, true);
  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied", source.courseName.c_str(), "");
  if (IsYes(sr)) state.installLH = 1;
  if (FolderNumber(name) == kTextToSpeechProduct) state.installTTS = 1;

  if (!CopyStartupFolder(sourceFolder, installedFolder)) return false;
  if (IsMainCourseEdition(name)) {
    const std::string twin = WithCode(name, kMainCourseTwinCode);
    if (!CopyStartupFolder(sourceFolder, Join(LaunchFolder(), twin))) return false;
    RecordVersion(twin, "001");
  }
  if (base::Run().fExit) return false;

  const std::string updatedIni = AnyCase(Join(installedFolder, "nuvel.ini"));
  if (!englishOnly.empty()) WriteIni("nuvel.ini", "english_only", englishOnly, updatedIni);
  if (!sr.empty()) WriteIni("nuvel.ini", "sr", sr, updatedIni);
  if (!language.empty()) WriteIni("nuvel.ini", "language", language, updatedIni);
  RecordVersion(name, "0");

  // The content, for a course installed with it.
  if (!platform::IsDirectory(Join(ContentFolder(), name))) return true;
  for (FoundProduct& product : Sources().prodList) {
    if (!base::EqualsIgnoreCase(product.folder, name)) continue;
    const std::string saved = product.parts;
    product.parts = std::string(kAllParts);
    const FamilyRow* family = FamilyOf(product.folder);
    CopyProductParts(ChoiceOfInstalledCourse(product, language), product.parts,
                     family ? family->code : name, LaunchFolder(), ContentFolder());
    product.parts = saved;
    return !StopWanted();
  }
  WriteLogf(1, "UpdateAllProducts: %s is not among the products of the source", name.c_str());
  return true;
}

}  // namespace

InstallState& Install() {
  static InstallState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::Install", [] { state.reset(); });
  return state;
}

// ---- Installing ------------------------------------------------------------------------------

int InstallProducts() {
  WriteLogf(0, "InstallProducts");
  SelectionState& sel = Selection();
  if (sel.installOrder.empty() && sel.theDifferentFamiliesCount == 1 &&
      ValidProduct(sel.nSingleProduct)) {
    sel.installOrder = {sel.nSingleProduct};
    sel.selectedTotal = 1;
  }
  const int total = std::min(sel.selectedTotal, static_cast<int>(sel.installOrder.size()));
  Install().nTotalToInstall = total;
  for (int k = 1; k <= total; ++k) {
    if (!InstallOneProduct(k)) return 0;
  }
  return 1;
}

void FinishInstalledCourses() {
  InstallState& state = Install();
  for (const std::string& path : state.unfinished) {
    const std::string folder = platform::FileName(path);
    RecordVersion(folder, FolderCode(folder) == kMainCourseTwinCode ? "001" : "0");
    ui::ReportCourseFinished(folder);
    if (std::error_code ec = platform::RemoveFile(Join(path, kInstallingMark))) {
      WriteLogf(0, "ERROR: could not remove the installing mark of %s: %s", path.c_str(),
                ec.message().c_str());
    }
  }
  state.unfinished.clear();
}

int Copy_The_Content() {
  WriteLogf(0, "Copying the Course Content");
  base::RunState& run = base::Run();
  const std::string content = ContentFolder();
  if (std::error_code ec = platform::MakeDirectories(content)) {
    Fail("ERROR: Copy_The_Content could not create %s: %s", content, ec.message());
    return -1;
  }
  const SelectionState& sel = Selection();
  const int total = std::min(sel.selectedTotal, static_cast<int>(sel.installOrder.size()));
  for (int k = 0; k < total && !StopWanted(); ++k) {
    const int index = sel.installOrder[static_cast<std::size_t>(k)];
    if (!ValidProduct(index)) continue;
    Install().installingProd = index;
    const FoundProduct& product = Sources().prodList[index];
    const FamilyRow* family = FamilyOf(product.folder);
    const std::string familyCode = family ? family->code : product.folder;
    const std::string productContent = ProductContentFolder(product.folder);
    if (family && family->sizeMB > 0) {
      const std::uint64_t bytes = static_cast<std::uint64_t>(family->sizeMB) * kBytesPerMB;
      if (!CheckAvailSpace(productContent, bytes)) {
        WriteLogf(0, "ERROR: Copy_The_Content %s (%d %llu)", familyCode.c_str(), family->sizeMB,
                  static_cast<unsigned long long>(bytes));
        run.copyFailed = 1;
        break;
      }
    }
    CopyProductParts(ChoiceOfSelection(index), product.parts, familyCode,
                     ProductLaunchFolder(product.folder), productContent);
  }
  return run.copyFailed ? -1 : 0;
}

ContentChoice ChoiceOfSelection(int product) {
  ContentChoice choice;
  if (!ValidProduct(product)) return choice;
  const FoundProduct& found = Sources().prodList[product];
  choice.folder = found.folder;
  const LanguageEntry* chosen = ChosenMultiLanguage();
  if (!chosen) {
    choice.language = FolderCode(found.folder);
    return choice;
  }
  choice.multilingual = true;
  choice.language = base::UpperAscii(chosen->code);
  const std::string& listed = Selection().szMultiIniLanguages;
  choice.multiLanguages = listed.empty() ? found.languages : listed;
  return choice;
}

bool IsContentSubfolderChosen(const ContentChoice& choice, std::string_view code) {
  const std::string subfolder = base::UpperAscii(code);
  const std::string language = base::UpperAscii(choice.language);
  if (subfolder == "COM" || subfolder == "ENG") return true;
  if (!choice.multilingual) {
    return subfolder == "GEN" || subfolder == "KID" || subfolder == FolderCode(choice.folder);
  }
  if (subfolder == "GEN") return language != "KID";
  if (subfolder == "KID") return language != "GEN";
  if (subfolder == language) return true;
  if (language != "ALL") return false;
  const std::vector<std::string> listed = CodesOf(choice.multiLanguages);
  return std::find(listed.begin(), listed.end(), subfolder) != listed.end();
}

void SetCourseDownload(CourseDownload download) { CourseDownloader() = std::move(download); }

int Copy_It(int mode, const std::string& destination, int part) {
  (void)mode;
  return CopyContentPart(ChoiceOfSelection(Install().installingProd), destination, part);
}

int CopyContentPart(const ContentChoice& choice, const std::string& destination, int part) {
  WriteLogf(0, "Copy_It");
  if (!IsSafeProductFolderName(choice.folder) || part < 1 || part > 16) {
    Fail("ERROR: Copy_It: no course '%s' or part %s", choice.folder, std::to_string(part));
    return -1;
  }
  std::string target = platform::WithoutTrailingSlash(destination);
  if (Selection().force_download_courses) target += "_d";
  if (std::error_code ec = platform::MakeDirectories(target)) {
    Fail("ERROR: Copy_It could not create %s: %s", target, ec.message());
    return -1;
  }

  // Archive mode when courses_d holds archives of this course; folder mode otherwise.
  const std::string archives = Join(CourseSourceRoot(), "Nuvel/courses_d");
  const std::string sourceCourse = SourceCourseFolder(choice.folder);
  std::vector<std::pair<std::string, std::string>> subfolders;
  if (platform::IsDirectory(archives)) subfolders = CourseArchives(archives, choice.folder);
  const bool archiveMode = !subfolders.empty();
  if (!archiveMode) {
    if (!platform::IsDirectory(sourceCourse)) {
      Fail("ERROR: Copy_It: no content of %s in %s", choice.folder, sourceCourse);
      return -1;
    }
    for (const std::string& name : SortedEntries(sourceCourse, true)) {
      if (name.size() == 3) subfolders.emplace_back(name, name);
    }
  }
  WriteLogf(1, "Copy_It: %s part %d from %s (%s)", choice.folder.c_str(), part,
            archiveMode ? archives.c_str() : sourceCourse.c_str(),
            archiveMode ? "archives" : "folders");

  for (const auto& [code, name] : subfolders) {
    if (StopWanted()) return -1;
    if (!IsContentSubfolderChosen(choice, code)) continue;
    ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied", std::string(kMultimediaContent).c_str(),
                        code.c_str());
    const bool ok = archiveMode ? ExpandSubfolder(choice, archives, name, code, target)
                                : CopySubfolder(choice, sourceCourse, code, target);
    if (!ok) return -1;
  }
  if (base::Run().fExit) return -1;
  return FinishContent(choice.folder, sourceCourse, target, part) ? 0 : -1;
}

// ---- Around the courses ------------------------------------------------------------------------

int ChangeVersionFile() {
  WriteLogf(0, "ChangeVersionFile");
  const SelectionState& sel = Selection();
  int product = sel.installOrder.empty() ? 0 : sel.installOrder.front();
  if (!ValidProduct(product)) {
    WriteLogf(0, "ERROR: ChangeVersionFile: no product");
    return -1;
  }
  // The whole root is named: the drive prefix that the line once dropped has no counterpart in
  // a POSIX path.
  const std::string root = SourceRoot();
  std::string text;
  if (std::error_code ec = platform::ReadFile(Join(root, "VERSION"), text)) {
    WriteLogf(0, "ERROR: ChangeVersionFile cannot read %s/VERSION: %s", root.c_str(),
              ec.message().c_str());
    return -1;
  }
  // Lines keep their own ends; a PATH line names the source root.
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::size_t next = end;
    if (next < text.size() && text[next] == '\r') ++next;
    if (next < text.size() && text[next] == '\n') ++next;
    if (text.compare(at, 4, "PATH") == 0) {
      out += "PATH: " + root + "\r\n";
    } else {
      out += text.substr(at, next - at);
    }
    at = next;
  }
  const std::string target =
      Join(Join(LaunchFolder(), Sources().prodList[product].folder), "VERSION");
  if (std::error_code ec = platform::WriteFileAtomic(target, out)) {
    Fail("ERROR: ChangeVersionFile cannot write %s: %s", target, ec.message());
    return -1;
  }
  return 0;
}

int CopyOtherFiles() {
  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied", "Technologies:", "Executables");
  return CopyNonCoursesfiles();
}

int CopyNonCoursesfiles() {
  InstallState& state = Install();
  if (state.companionFilesCopied) return 0;
  state.companionFilesCopied = true;
  WriteLogf(0, "CopyNonCoursesfiles");
  const std::string apps = Join(SourceRoot(), "install/MacOS");
  if (!platform::IsDirectory(apps)) return 0;
  const int error = XcopyFilesWithScrollBar(apps, InstallationFolder(), 0, 0, "");
  if (error != 0) WriteLogf(0, "CopyNonCoursesfiles err=%d", error);
  return error;
}

int Copy_Technologies() {
  InstallState& state = Install();
  if (state.technologiesCopied || !state.installLH) return 0;
  state.technologiesCopied = true;
  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied",
                      "Network Technologies:", "Speech Recognition");
  const std::string technologies = Join(InstallationFolder(), "techm");
  if (std::error_code ec = platform::MakeDirectories(technologies)) {
    Fail("ERROR: Copy_Technologies could not create %s: %s", technologies, ec.message());
    return ec.value();
  }
  const std::string babel = Join(SourceRoot(), "install/MacOS/babel");
  if (!platform::IsDirectory(babel)) return 0;
  const int error = XcopyFilesWithScrollBar(babel, Join(technologies, "sr"), 0, 0, "");
  if (error != 0)
    Fail("ERROR: Copy_Technologies could not copy %s (%s)", babel, std::to_string(error));
  return error;
}

int Copy_Documents() {
  WriteLogf(0, "Copying Documents");
  const std::string& disc = Sources().cdMountPath;
  const std::string source = Join(disc.empty() ? SourceRoot() : disc, "doc");
  if (!platform::IsDirectory(source) || SortedEntries(source, false).empty()) return 0;
  const std::string documents = Join(InstallationFolder(), "doc");
  const int error = XcopyFilesWithScrollBar(source, documents, 0, 0, "");
  if (error != 0) {
    Fail("ERROR: Copy_Documents could not copy %s (%s)", source, std::to_string(error));
    return error;
  }
  Install().documentsAvailable = 1;
  return 0;
}

int MakeOldStyleDirectory(const std::string& folder) {
  WriteLogf(0, "MakeOldStyleDirectory %s", folder.c_str());
  if (!IsSafeProductFolderName(folder)) return -1;
  // Older courses (version 2.0 of the first products) name their redirector without the
  // product number's leading digit.
  std::string name = folder;
  if (name.size() >= 8 && name.compare(6, 2, "20") == 0 && name[0] < '5') name.erase(0, 1);
  const std::string redirector = Join(base::Paths().localNuvelDirectory, name);
  if (std::error_code ec = platform::MakeDirectories(redirector)) {
    Fail("ERROR: MakeOldStyleDirectory could not create %s: %s", redirector, ec.message());
    return -1;
  }
  const std::string root = SourceRoot();
  const std::string program = AnyCase(Join(root, "install/MacOS/Nuvel"));
  const std::string settings = AnyCase(Join(Join(root, "install/data/" + folder), "Nuvel.Ini"));
  bool ok = true;
  if (DuplicateMyFile(program, Join(redirector, "Nuvel"), 0) == 0) {
    ok = Fail("ERROR: MakeOldStyleDirectory could not copy %s", program);
  }
  if (DuplicateMyFile(settings, Join(redirector, "Nuvel.Ini"), 0) == 0) {
    ok = Fail("ERROR: MakeOldStyleDirectory could not copy %s", settings);
  }
  return ok ? 0 : -1;
}

// ---- Updating ----------------------------------------------------------------------------------

int UpdateAllProducts(bool force) {
  WriteLogf(0, "UpdateAllProducts");
  base::RunState& run = base::Run();
  const std::string installation = InstallationFolder();
  for (const std::string& folder : {installation, Join(installation, "doc")}) {
    if (std::error_code ec = platform::MakeDirectories(folder)) {
      WriteLogf(0, "ERROR: UpdateAllProducts could not create %s: %s", folder.c_str(),
                ec.message().c_str());
    }
  }
  ui::StatusBoxCreate();
  {
    StatusBoxHeldOpen held;
    for (const std::string& name : SortedEntries(LaunchFolder(), true)) {
      if (StopWanted()) break;
      if (name[0] == '.' || !IsSafeProductFolderName(name)) continue;
      const CourseBuild source = ReadCourseBuild(SourceCourseIniPath(name));
      const CourseBuild installed = ReadCourseBuild(InstalledCourseIniPath(name));
      if (!IsMoreRecentBuild(source, installed, force)) continue;
      // A forced update may offer a lower build than the installed one; as for an installation,
      // that takes the user's yes.
      if (source.fixLevel < installed.fixLevel &&
          ui::Ask({.id = "MSG_FixLevelLower",
                   .message = "MSG_FixLevelLower",
                   .buttons = {"MSG_Button_Install", "MSG_Button_Cancel"}}) != 1) {
        WriteLogf(0, "Not updated: a newer build of %s is installed", name.c_str());
        continue;
      }
      if (!UpdateCourse(name, source)) break;
      if (!run.copyFailed) ui::ReportCourseFinished(name);
      base::FreePrivateProfile();
    }
    if (!StopWanted()) RefreshCompanions();
  }
  CloseProgress();
  base::FreePrivateProfile();
  if (StopWanted()) {
    WriteLogf(0, "UpdateAllProducts stopped (copyFailed=%d fExit=%d)", run.copyFailed, run.fExit);
    return -1;
  }
  ui::Ask({.id = "MSG_Message_AllProductsFreshen",
           .message = "MSG_Message_AllProductsFreshen",
           .buttons = {"MSG_Button_OK"}});
  return 0;
}

}  // namespace nuvel::installer
