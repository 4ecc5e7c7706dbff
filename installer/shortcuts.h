// Application shortcuts and launching.
//
// The companion applications get desktop launchers (freedesktop .desktop files, the stand-ins
// for aliases): "Student" for the launcher and "Teacher" for the Records Manager on the
// desktop, and on a networked installation one launcher per companion in the shared
// "Shortcuts" folder that other computers copy. A launcher starts the bundle's executable
// "Name.app/Contents/MacOS/Name" and shows its icon "Name.app/Contents/Resources/Name.png"; a
// bundle without its icon gets no launcher.
//
// Also here: starting applications, pages and mail addresses (never through a shell), the
// single-instance check by creator code, and moving items into the Trash with the renaming rule
// for names the Trash holds already.
#pragma once

#include <array>
#include <string>
#include <system_error>

namespace nuvel::installer {

// Creator codes: the four-character signatures of our applications. A running application holds
// the single-instance lock of its code (platform::InstanceLockPath) for its whole run.
inline constexpr char kSetupCreator[] = "NvSU";           // this Setup
inline constexpr char kLauncherCreator[] = "NvLN";        // Launcher.app, the student launcher
inline constexpr char kRecordsManagerCreator[] = "NvRM";  // Records Manager.app
inline constexpr char kFreshenCreator[] = "NvFR";         // Freshen.app, the update checker
inline constexpr char kAnalyzerCreator[] = "NvAN";        // Analyzer.app
inline constexpr char kRedirectorCreator[] = "NvRD";      // Redirector.app
inline constexpr char kCoursePlayerCreator[] = "NvCP";    // the course player a launcher starts

/// The seven codes AnyNuvelAppsRunning checks.
inline constexpr std::array<const char*, 7> kNuvelCreators = {
    kSetupCreator,    kLauncherCreator,   kRecordsManagerCreator, kFreshenCreator,
    kAnalyzerCreator, kRedirectorCreator, kCoursePlayerCreator};

/// The result of DoCreateAlias and DoDeleteAlias when the name is taken by something that
/// cannot be replaced (a folder of that name, a file the folder protects): the caller tries its
/// alternate name. Every other failure is -errno.
inline constexpr int kFileBusyError = -47;

/// The launchers of the system's application menu (platform::SystemMenuFolder), made only by a
/// Setup run as root: the student's ("Student") and, with the teacher's application, the
/// teacher's ("Teacher"). Uninstall All removes them with the installation they start.
inline constexpr std::array<const char*, 2> kMenuLauncherFiles = {"nuvel-student.desktop",
                                                                  "nuvel-teacher.desktop"};

/// Alias names are cut to this many characters.
inline constexpr std::size_t kAliasNameLimit = 31;

/// Creates the launchers of the companion applications of the installation folder
/// (Path("nuvel_apps")):
///   Launcher.app         desktop "Student" (else "Student Nuvel" when busy), after deleting
///                        an old "Nuvel Courseware"; network "Student".
///   Records Manager.app  only with `withTeacher` 1: network "Teacher"; on the desktop the old
///                        "Nuvel Records Manager" is deleted and "Teacher" (else "Teacher
///                        Nuvel" when busy) is made, whether or not the old launcher was there.
///   Freshen.app, Analyzer.app   network "Freshen", "Analyzer" only.
/// The network launchers go to Path("nuvel_data") + "Shortcuts", created when the installation
/// path is a network path (GetIsPathNetworked); a local installation gets none. The desktop
/// folder is not created when missing. Run as root, the student's and the teacher's launchers
/// also go to the system's application menu (kMenuLauncherFiles), its folder created when its
/// parent exists. Failures are logged, never shown.
void Create_The_Icons(int withTeacher);

/// Creates (replacing) the launcher "<folder>/<name>.desktop" of the bundle `target` (e.g.
/// "Launcher.app") in `target_folder`. 0 on success; kFileBusyError when the name is busy; -errno
/// otherwise, in particular -ENOENT when the bundle's executable or icon is missing (then no
/// launcher is made).
int DoCreateAlias(const std::string& target, const std::string& target_folder,
                  const std::string& name, const std::string& folder);

/// Deletes the launcher "<folder>/<name>.desktop". The bundle's icon must be readable, as for
/// DoCreateAlias. 0 when the launcher existed and was deleted, otherwise the first error met
/// (-ENOENT for a missing icon or launcher, kFileBusyError).
int DoDeleteAlias(const std::string& target, const std::string& target_folder,
                  const std::string& name, const std::string& folder);

/// The executable an application path names: "X.app" (or a path to "X" when only "X.app"
/// exists) gives "X.app/Contents/MacOS/X"; any other path is the executable itself.
std::string ApplicationExecutable(const std::string& path);

/// Launches the application at the absolute `path` (see ApplicationExecutable) in its own
/// process group. 0 on success, -errno otherwise (-EINVAL for a relative path). When the system
/// lacks the memory to start it, it is tried once more and then MSG_Message_ErrorLaunchingNuvel /
/// MSG_Err_Memory_Low1 is shown. `pid`, when not null, receives the new process's id.
int LaunchApp(const std::string& path, int* pid = nullptr);

/// Launches the application at `path`; with `wait` set, runs the event loop until it has ended.
/// A launch failure is logged as "Error %d Launching: '%s'". 1 when launched, 0 otherwise.
int RunThisApp(const std::string& path, int wait);

/// The id of a running process (not this one) whose name contains `name`; 0 when none.
int FindAProcess(const std::string& name);

/// Opens the address in the user's browser through the desktop's opener; logs the address and
/// "Error %d returned from ICStart" (the opener could not be started) or "Error %d returned from
/// ICLaunchURL" (it refused the address) at level 1. 0 when opened.
int LaunchWebPage(const std::string& url);

/// -1 when another process runs the application of that creator code (holds its lock), which
/// is logged (a desktop offers no portable way to bring another process to the front).
/// Otherwise 1, and this process takes the lock for the rest of its run. 0 when the lock
/// cannot be taken safely (no lock folder, a link or something else than a file in the lock
/// file's place; logged with `error`): the caller must not run as if it held the lock.
int IsNuvelAlreadyRunning(const std::string& creator, std::error_code* error = nullptr);

/// -1 when another process runs the application of that creator code; 1 otherwise. Takes no
/// lock.
int IsNuvelAppRunning(const std::string& creator);

/// -1 as soon as one of the seven applications of kNuvelCreators runs in another process,
/// 1 otherwise.
int AnyNuvelAppsRunning();

/// Moves a file or folder into the user's Trash. When the Trash holds that name already, a
/// name longer than 23 characters is cut to 23 and ended with "...", then " copy 1" is
/// appended; while that is taken too, " copy 2" to " copy 9" are tried. The item keeps its
/// original path in the Trash's information file, so restoring it brings back its own name.
/// 0 on success, -EEXIST when all ten names are taken, -errno otherwise.
int MoveFileToTrash(const std::string& path);

/// Hands a message to the user's mail application: the address "mailto:<to or from>?"
/// with "subject=<subject>" and, after "&" when there is a subject, "body=<body>" (each part only
/// when non-empty); every blank is written "%20" and nothing else is escaped. Attachments cannot
/// travel in such an address and are left out (logged). Returns the opener's result
/// (platform::OpenUrl): 0 when handed over.
int SendEmailShell(const std::string& subject, const std::string& from, const std::string& to,
                   const std::string& attach, const std::string& body);

/// Runs the closing item. `product_path` names the installed product; when it contains ".INI"
/// (compared upper-cased: the product's settings file) that file name is replaced by the
/// product's "Launcher". An empty `item` launches that launcher when the product has one of its
/// own, else the installation's Launcher.app (Path("Launcher.app")). Otherwise `item` is taken
/// relative to the source folder (Run().current_dir; a ":" path is converted): an existing
/// ".htm"/".html" page is opened in the browser as a file URL, anything else is launched as an
/// application. Any failure shows "Error Launching Application." with MSG_Button_OK. 0 when
/// the item was started, -1 otherwise.
int RunProgram(const std::string& item, const std::string& product_path);

}  // namespace nuvel::installer
