// Installing products: the startup files of every selected course (launch/<folder>), their
// entries in records.ini, the course content (content/<folder>), the companion files, the
// speech-recognition technology, the documents folder and the redirector folder of older
// launchers; and the update of every installed course from a source that holds a newer build.
//
// The driver runs, each step only when the previous one neither failed (Run().copyFailed) nor
// was cancelled (Run().fCancel, Run().fExit): InstallProducts; ChangeVersionFile when the Setup
// runs from the disc (InstallOpts().runfromcd); CopyOtherFiles; its support files and shortcuts;
// Copy_Technologies and Copy_Documents; Copy_The_Content for a full installation.
// UpdateAllProducts is the update that CheckInstallations (installer/sources.h) runs.
//
// Inputs from elsewhere: the found products (Sources()), the selection (Selection(): installOrder,
// selectedTotal, the chosen language, the family table, force_download_courses), the run state
// (Run(): current_dir and szDefaultIniFile of the source, The_CD_ROM and The_Course_CD_ROM,
// Internet), the installation's folders (Paths().DataPath, the launch folder, and the folders of
// base/paths.h). The driver copies force_show_confirm_install_screen into InstallOpts() after
// reading setup.ini; the per-product options are read here, for each product, from the source's
// setup.ini and then the product's own SETUP.INI (whatever the case of its name), which wins.
//
// Installed tree below the installation folder:
//   launch/<folder>/   the product folder of the source (install/data/<folder>), its nuvel.ini
//                      amended with the language recorded and the English-only flag; while the
//                      course is being installed it also holds the mark ".nuvel-installing"
//   content/<folder>/  the content subfolders (COM, ENG, GEN, KID and the chosen languages),
//                      VERSION, NUVEL.INI, complete.txt and one marker disc.NN per part copied
//   techm/sr/          the speech-recognition technology (install/MacOS/babel of the source)
//   doc/               the documents of the source's doc folder
// A course whose source nuvel.ini has force_local=Y gets its launch/<folder> and
// content/<folder> in the local system folder (Paths().localNuvelDirectory) instead.
//
// Content on the source: folder mode takes the subfolders of Nuvel/content/<folder>; archive mode
// (the source has Nuvel/courses_d holding archives of the course) expands each
// Nuvel/courses_d/<folder>_<CODE>.EXE and completes its media placeholders (files under 20 bytes)
// from Nuvel/audio_d_50 (course version 5 and later) or Nuvel/audio_d. An archive of the source
// is never deleted by its expansion. With forced course downloads the content goes to
// content/<folder>_d and the course's small files come from the source's Nuvel/content_d/<folder>;
// in folder mode each subfolder copied from there is then filled with the archive
// <folder>_<CODE>.EXE of the download address's courses_d (SetCourseDownload), once per run.
// A download that fails for any reason counts as a failed copy (not only the user's Stop).
//
// Every failed copy, expansion or file creation is logged and sets Run().copyFailed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::installer {

/// The handled-archive list never grows beyond this many characters.
inline constexpr std::size_t kHandledArchivesMax = 4000;
/// A media file of an expanded archive smaller than this is a placeholder for the real file.
inline constexpr std::uint64_t kMediaPlaceholderLimit = 20;
/// The parts of a course, one letter per part: 'A' is part 1, 'P' part 16.
inline constexpr std::string_view kAllParts = "ABCDEFGHIJKLMNOP";
/// The identification line of an installed VERSION file before the course is filled in:
/// characters 1-3 take the product number, 5-7 the folder's code, 13 and 15 its version digits.
inline constexpr std::string_view kVersionLineTemplate =
    "xxx MUL 01 V4-2     --------- 201.SC 040.00 008";

/// Fetches the archive `fileName` from `urlBase` and expands it into `destDir`; 0 on success.
using CourseDownload = std::function<int(const std::string& destDir, const std::string& fileName,
                                         const std::string& urlBase)>;

/// Installs the course download of forced course downloads (the download module sits beside
/// this one, so the program hands it over at start-up). Without one, such a download fails.
void SetCourseDownload(CourseDownload download);

/// The options the installation acts on.
struct InstallOptions {
  // Filled by the driver from setup.ini.
  int force_show_confirm_install_screen = 1;  // show the install dialog for each product

  // Per product, read by InstallProducts (CheckIniValues) from the source's setup.ini and then
  // the product's own SETUP.INI. -1: not given.
  int all = 1;             // install every language of a multilingual product
  int minimal = 0;         // minimal installation
  int askeng = -1;         // 0: never ask about English only (the product installs in English only)
  int forceeng = -1;       // 1: English only without asking (also turns askeng off)
  int runfromcd = -1;      // 1: the courses run from the disc (the driver's RunFromCD)
  std::string engine_ver;  // engine version the product requires
};

struct InstallState {
  int installingProd = 0;             // found-product index being installed
  int nTotalToInstall = 0;            // products of this installation
  int nInstalling = 0;                // 1-based number of the product being installed
  int fInstall = 0;                   // an install dialog was confirmed
  int installLH = 0;                  // an installed course uses speech recognition
  int installTTS = 0;                 // the text-to-speech product was installed
  int fTurnEngOnlyFlagOn = 0;         // the user chose English only for the product being installed
  std::string handledArchives;        // course archives expanded in this run, blank-separated
  std::string rememberedLanguage;     // the language chosen for the whole selection ("" none)
  int documentsAvailable = 0;         // the source's documents were installed
  bool companionFilesCopied = false;  // CopyNonCoursesfiles ran in this run
  bool technologiesCopied = false;    // Copy_Technologies ran in this run
  std::vector<std::string> unfinished;  // product folders installed in this pass, still marked
  InstallOptions options;

  void reset() { *this = InstallState{}; }
};

InstallState& Install();
/// The options, for the driver to fill.
inline InstallOptions& InstallOpts() { return Install().options; }

// ---- Installing ------------------------------------------------------------------------------

/// Installs the startup files of every product of installOrder (when exactly one family matched
/// and installOrder is empty, the product that family matched). For each: the per-product
/// options, the install dialog (unless switched off or several families are installed in one
/// go), the checks against an installed copy (a higher installed fix_level asks
/// MSG_FixLevelLower, a change of an installed multilingual course's language asks
/// MSG_Message_AlreadyInstalled3; Cancel sets fCancel), the copy to launch/<folder> (the
/// main-course edition also to its GRA twin), the language and English-only flag written into the
/// installed nuvel.ini, speech recognition and text-to-speech noted, the redirector folder when
/// the source asks for it. Every course installed carries the installing mark until
/// FinishInstalledCourses records its version from versions.ini in records.ini. Returns 1
/// when every product was installed; 0 when the installation stopped (Cancel, Exit, a refused
/// check or a failed copy: the flags tell which).
int InstallProducts();

/// The mark a course's startup folder carries from the start of its installation until the
/// whole course is in place (startup files, companions, support files, technologies, content).
/// A course that carries it is not installed: a run that was stopped or failed half-way left
/// it, and the next installation of the course completes it.
inline constexpr const char* kInstallingMark = ".nuvel-installing";

/// Ends the installation of the courses of this pass once everything of it is in place: their
/// versions from versions.ini go into records.ini and their installing marks are removed.
void FinishInstalledCourses();

/// Copies the content of every product of installOrder, part by part, into the content folder
/// (the launch folder's sibling "content"), until a copy fails or the user exits. A part n is
/// copied when the installed nuvel.ini has disc_name_install_%02d for it. The family's size,
/// when known, must be free on the volume first. Returns 0 when everything was copied, -1 when
/// a copy failed (copyFailed is set).
int Copy_The_Content();

/// Which content subfolders a content copy takes.
struct ContentChoice {
  std::string folder;          // the product folder name ("001MUL50")
  bool multilingual = false;   // installed as multilingual
  std::string language;        // the chosen code: a language, "GEN", "KID" or "ALL"
  std::string multiLanguages;  // blank-separated codes taken when the choice is "ALL"
};

/// The choice of the selection for found product `product`: the chosen entry of the
/// multi-language table for a multilingual product.
ContentChoice ChoiceOfSelection(int product);

/// True when the content subfolder `code` belongs to the choice (codes compared without regard
/// to case): COM and ENG always; for a multilingual product GEN unless KID was chosen, KID unless
/// GEN was chosen, any other code when chosen, or listed while ALL was chosen; for any other
/// product GEN, KID and its own folder's code.
bool IsContentSubfolderChosen(const ContentChoice& choice, std::string_view code);

/// Copies part `part` (1-16) of the content of the product being installed
/// (Install().installingProd, with the selection's language choice) into `destination`.
/// `mode` is accepted and not consulted. Returns 0 on success, -1 on failure (copyFailed set).
int Copy_It(int mode, const std::string& destination, int part);

/// The same for an explicit choice.
int CopyContentPart(const ContentChoice& choice, const std::string& destination, int part);

// ---- Around the courses ------------------------------------------------------------------------

/// Writes VERSION into the launch folder of the first product installed, from the source's
/// VERSION with every line beginning "PATH" pointing at the source root. 0 on success, -1 when
/// the file cannot be read or written.
int ChangeVersionFile();

/// Shows the copy of the companion files and runs CopyNonCoursesfiles.
int CopyOtherFiles();
/// Once per run: copies the source's install/MacOS into the installation folder (the launch
/// folder's parent). A failure is logged ("CopyNonCoursesfiles err=%d") and otherwise ignored.
/// Returns the copy's result (0 when nothing was to be done).
int CopyNonCoursesfiles();

/// Once per run, when a course uses speech recognition (installLH): copies the source's
/// install/MacOS/babel to techm/sr. 0 on success or when nothing is to be done, else the
/// copy's error (copyFailed set).
int Copy_Technologies();

/// Copies the documents (the doc folder of the disc when one is recorded, else of the source)
/// into the installation's doc folder and notes that they are available. 0 on success or when
/// there are none, else the copy's error (copyFailed set).
int Copy_Documents();

/// The redirector folder of older launchers for product folder `folder`, in the local system
/// folder: the program "Nuvel" of the source's install/MacOS and the course's Nuvel.Ini. 0 on
/// success, -1 when something could not be made or copied (copyFailed set).
int MakeOldStyleDirectory(const std::string& folder);

// ---- Updating ----------------------------------------------------------------------------------

/// Updates every installed course for which the source holds a more recent build (every one the
/// source holds with `force`; a build of a lower fix_level than the installed one only after
/// MSG_FixLevelLower is answered Install): the startup files copied over, keeping the installed
/// english_only, sr and language; the version recorded; the content copied again when the course
/// was installed with its content. Then refreshes the companion files, the launcher picture and the
/// recorded application versions, and tells the user (MSG_Message_AllProductsFreshen). Returns 0 on
/// success, -1 when a copy failed or the user exited.
int UpdateAllProducts(bool force);

}  // namespace nuvel::installer
