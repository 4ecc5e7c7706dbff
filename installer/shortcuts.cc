#include "installer/shortcuts.h"

#include <cerrno>
#include <system_error>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/privileges.h"
#include "platform/process.h"
#include "platform/trash.h"
#include "ui/prompts.h"

namespace nuvel::installer {
namespace {

constexpr std::size_t kTrashNameLimit = 23;
constexpr int kTrashCopies = 9;
constexpr char kMenuCategories[] = "Education;Languages;";

int StatusOf(const std::error_code& ec) {
  if (!ec) return 0;
  if (ec == std::errc::device_or_resource_busy) return kFileBusyError;
  return -ec.value();
}

// The first `count` characters of a UTF-8 text (a character is never split).
std::string FirstCharacters(const std::string& text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool starts_character = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts_character && seen++ == count) return text.substr(0, i);
  }
  return text;
}

std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         base::UpperAscii(text.substr(text.size() - suffix.size())) == base::UpperAscii(suffix);
}

// A bundle "X.app" of the folder: its name without ".app", its executable and its icon.
struct Bundle {
  std::string name;
  std::string executable;
  std::string icon;
};

Bundle BundleOf(const std::string& target, const std::string& target_folder) {
  std::string path = platform::WithoutTrailingSlash(target_folder) + "/" + target;
  Bundle bundle;
  bundle.name = EndsWithNoCase(target, ".app") ? target.substr(0, target.size() - 4) : target;
  bundle.executable = path + "/Contents/MacOS/" + bundle.name;
  bundle.icon = path + "/Contents/Resources/" + bundle.name + ".png";
  return bundle;
}

std::string LauncherPath(const std::string& folder, const std::string& name) {
  return platform::WithoutTrailingSlash(folder) + "/" + FirstCharacters(name, kAliasNameLimit) +
         ".desktop";
}

// Writes the launcher file `path` that shows `shown_name` and starts the bundle `target` of
// `target_folder`; nothing when the bundle lacks its executable or its icon.
int WriteLauncher(const std::string& target, const std::string& target_folder,
                  const std::string& shown_name, const std::string& path,
                  const std::string& categories) {
  Bundle bundle = BundleOf(target, target_folder);
  std::error_code ec = platform::CheckReadable(bundle.icon);
  if (!ec && !platform::IsRegularFile(bundle.executable)) {
    ec = std::make_error_code(std::errc::no_such_file_or_directory);
  }
  if (!ec) {
    platform::DesktopLauncher launcher;
    launcher.name = shown_name;
    launcher.exec = bundle.executable;
    launcher.icon = bundle.icon;
    launcher.categories = categories;
    ec = platform::WriteDesktopLauncher(path, launcher);
  }
  int status = StatusOf(ec);
  base::WriteLogf(status == 0 ? 2 : 1, "DoCreateAlias: '%s' -> '%s' (%d)", path.c_str(),
                  bundle.executable.c_str(), status);
  return status;
}

// Run as root, the student's (and the teacher's) launcher also go to the system's application
// menu, so that every account of the machine finds the courses, not only the desktop of the
// account that installed them.
void CreateMenuLaunchers(const std::string& apps, int withTeacher) {
  if (!platform::RunningAsAdministrator()) return;
  std::string menu = platform::SystemMenuFolder();
  if (menu.empty()) {
    base::WriteLogf(1, "Create_The_Icons: no writable application menu folder");
    return;
  }
  if (auto ec = platform::MakeDirectories(menu)) {
    base::WriteLogf(1, "Create_The_Icons: cannot create '%s' (%d)", menu.c_str(), ec.value());
    return;
  }
  WriteLauncher("Launcher.app", apps, "Student", menu + "/" + kMenuLauncherFiles[0],
                kMenuCategories);
  if (withTeacher == 1) {
    WriteLauncher("Records Manager.app", apps, "Teacher", menu + "/" + kMenuLauncherFiles[1],
                  kMenuCategories);
  }
}

// Creates the desktop launcher `name`, or `alternate` when that name is busy.
void CreateWithAlternate(const std::string& target, const std::string& apps,
                         const std::string& name, const std::string& alternate,
                         const std::string& desktop) {
  if (DoCreateAlias(target, apps, name, desktop) == kFileBusyError) {
    base::WriteLogf(1, "Create_The_Icons: '%s' is busy, using '%s'", name.c_str(),
                    alternate.c_str());
    DoCreateAlias(target, apps, alternate, desktop);
  }
}

}  // namespace

int DoCreateAlias(const std::string& target, const std::string& target_folder,
                  const std::string& name, const std::string& folder) {
  return WriteLauncher(target, target_folder, FirstCharacters(name, kAliasNameLimit),
                       LauncherPath(folder, name), "");
}

int DoDeleteAlias(const std::string& target, const std::string& target_folder,
                  const std::string& name, const std::string& folder) {
  Bundle bundle = BundleOf(target, target_folder);
  std::error_code ec = platform::CheckReadable(bundle.icon);
  std::string path = LauncherPath(folder, name);
  if (!ec) ec = platform::DeleteDesktopLauncher(path);
  int status = StatusOf(ec);
  base::WriteLogf(2, "DoDeleteAlias: '%s' (%d)", path.c_str(), status);
  return status;
}

void Create_The_Icons(int withTeacher) {
  std::string apps = platform::WithoutTrailingSlash(base::Path("nuvel_apps"));
  if (apps.empty()) {
    base::WriteLogf(1, "Create_The_Icons: no installation folder");
    return;
  }
  const bool networked = base::GetIsPathNetworked() != 0;
  std::string shortcuts;
  if (networked) {
    shortcuts = base::Path("nuvel_data") + "Shortcuts";
    if (auto ec = platform::MakeDirectories(shortcuts)) {
      base::WriteLogf(1, "Create_The_Icons: cannot create '%s' (%d)", shortcuts.c_str(),
                      ec.value());
    }
  }
  std::string desktop = platform::DesktopFolder();

  if (networked) DoCreateAlias("Launcher.app", apps, "Student", shortcuts);
  DoDeleteAlias("Launcher.app", apps, "Nuvel Courseware", desktop);
  CreateWithAlternate("Launcher.app", apps, "Student", "Student Nuvel", desktop);

  if (withTeacher == 1) {
    if (networked) DoCreateAlias("Records Manager.app", apps, "Teacher", shortcuts);
    // The old name is replaced by "Teacher"; a desktop without it gets "Teacher" too. Without
    // the bundle's icon neither happens.
    DoDeleteAlias("Records Manager.app", apps, "Nuvel Records Manager", desktop);
    CreateWithAlternate("Records Manager.app", apps, "Teacher", "Teacher Nuvel", desktop);
  }

  if (networked) {
    DoCreateAlias("Freshen.app", apps, "Freshen", shortcuts);
    DoCreateAlias("Analyzer.app", apps, "Analyzer", shortcuts);
  }
  CreateMenuLaunchers(apps, withTeacher);
}

std::string ApplicationExecutable(const std::string& path) {
  std::string bundle = platform::WithoutTrailingSlash(path);
  if (!EndsWithNoCase(bundle, ".app") && !platform::Exists(bundle) &&
      platform::IsDirectory(bundle + ".app")) {
    bundle += ".app";
  }
  if (!EndsWithNoCase(bundle, ".app") || !platform::IsDirectory(bundle)) return bundle;
  std::string name = platform::FileName(bundle);
  return bundle + "/Contents/MacOS/" + name.substr(0, name.size() - 4);
}

int LaunchApp(const std::string& path, int* pid) {
  // A relative path would be looked up in whatever folder the program was started from.
  if (path.empty() || path[0] != '/') return -EINVAL;
  std::string executable = ApplicationExecutable(path);
  platform::SpawnOptions options;
  options.own_process_group = true;
  int child = 0;
  std::error_code ec = platform::Spawn({executable}, child, options);
  if (ec == std::errc::not_enough_memory || ec == std::errc::resource_unavailable_try_again) {
    ec = platform::Spawn({executable}, child, options);
    if (ec == std::errc::not_enough_memory || ec == std::errc::resource_unavailable_try_again) {
      std::string message =
          base::StrRezf(0, "MSG_Message_ErrorLaunchingNuvel", {platform::FileName(executable)}) +
          "\r" + base::StrRez(0, "MSG_Err_Memory_Low1");
      ui::Ask({.id = "MSG_Message_ErrorLaunchingNuvel",
               .message = message,
               .title = "MSG_Message_ErrorLaunchingNuvel",
               .buttons = {"MSG_Button_OK"}});
    }
  }
  if (ec) return -ec.value();
  if (pid) *pid = child;
  return 0;
}

int RunThisApp(const std::string& path, int wait) {
  int pid = 0;
  int status = LaunchApp(path, &pid);
  if (status != 0) {
    base::WriteLogf(0, "Error %d Launching: '%s'", status, path.c_str());
    return 0;
  }
  if (wait) {
    int exit_status = 0;
    platform::WaitForChild(pid, exit_status);
  }
  return 1;
}

int FindAProcess(const std::string& name) { return platform::FindProcessByName(name); }

int LaunchWebPage(const std::string& url) {
  base::WriteLogf(1, "%s", url.c_str());
  int status = platform::OpenUrl(url);
  if (status < 0) {
    base::WriteLogf(1, "Error %d returned from ICStart", status);
  } else if (status > 0) {
    base::WriteLogf(1, "Error %d returned from ICLaunchURL", status);
  }
  return status;
}

int IsNuvelAppRunning(const std::string& creator) {
  if (!platform::InstanceLockHeldElsewhere(creator)) return 1;
  base::WriteLogf(1, "Application '%s' is running", creator.c_str());
  return -1;
}

int IsNuvelAlreadyRunning(const std::string& creator, std::error_code* error) {
  bool held_elsewhere = false;
  if (auto ec = platform::TakeInstanceLock(creator, held_elsewhere)) {
    base::WriteLogf(0, "ERROR: no lock for '%s' at %s: %s", creator.c_str(),
                    platform::InstanceLockPath(creator).c_str(), ec.message().c_str());
    if (error) *error = ec;
    return 0;
  }
  if (!held_elsewhere) return 1;
  base::WriteLogf(0, "Application '%s' is already running", creator.c_str());
  return -1;
}

int AnyNuvelAppsRunning() {
  for (const char* creator : kNuvelCreators) {
    if (IsNuvelAppRunning(creator) < 0) return -1;
  }
  return 1;
}

int MoveFileToTrash(const std::string& path) {
  std::string name = platform::FileName(platform::WithoutTrailingSlash(path));
  std::error_code ec;
  std::string trashed = name;
  if (!platform::TrashHoldsName(name)) {
    ec = platform::MoveToTrash(path, name);
  } else {
    std::string stem = CharacterCount(name) > kTrashNameLimit
                           ? FirstCharacters(name, kTrashNameLimit) + "..."
                           : name;
    ec = std::make_error_code(std::errc::file_exists);
    for (int copy = 1; copy <= kTrashCopies && ec == std::errc::file_exists; ++copy) {
      trashed = stem + " copy " + std::to_string(copy);
      if (!platform::TrashHoldsName(trashed)) ec = platform::MoveToTrash(path, trashed);
    }
  }
  int status = ec ? -ec.value() : 0;
  base::WriteLogf(status == 0 ? 2 : 1, "MoveFileToTrash: '%s' as '%s' (%d)", path.c_str(),
                  trashed.c_str(), status);
  return status;
}

int SendEmailShell(const std::string& subject, const std::string& from, const std::string& to,
                   const std::string& attach, const std::string& body) {
  if (!attach.empty()) {
    base::WriteLogf(1, "SendEmailShell: attachment '%s' left out", attach.c_str());
  }
  std::string address = "mailto:" + (to.empty() ? from : to) + "?";
  if (!subject.empty()) address += "subject=" + subject;
  if (!body.empty()) address += (subject.empty() ? "body=" : "&body=") + body;
  std::string escaped;
  for (char c : address) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
  return platform::OpenUrl(escaped);
}

int RunProgram(const std::string& item, const std::string& product_path) {
  // The settings file "XXXXX.INI" of the product names its folder; a launcher of the product's
  // own lies beside it. Products come without one: the installation's Launcher.app starts them.
  std::string launcher = product_path;
  std::string file = platform::FileName(product_path);
  if (base::UpperAscii(file).find(".INI") != std::string::npos) {
    launcher = product_path.substr(0, product_path.size() - file.size()) + "Launcher";
  }
  if (launcher.empty() || !platform::IsRegularFile(ApplicationExecutable(launcher))) {
    launcher = platform::WithoutTrailingSlash(base::Path("Launcher.app"));
  }

  int status = 0;
  if (item.empty()) {
    status = LaunchApp(launcher);
  } else {
    std::string relative = base::HFSToPOSIX(item);
    while (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
    std::string full = platform::WithoutTrailingSlash(base::Run().current_dir) + "/" + relative;
    bool page = EndsWithNoCase(full, ".htm") || EndsWithNoCase(full, ".html");
    if (page && platform::IsRegularFile(full)) {
      status = LaunchWebPage(platform::FileUrl(full));
    } else {
      status = LaunchApp(full);
    }
  }
  if (status == 0) return 0;
  base::WriteLogf(0, "RunProgram: error %d launching '%s'", status,
                  item.empty() ? launcher.c_str() : item.c_str());
  ui::Ask({.message = "Error Launching Application.", .buttons = {"MSG_Button_OK"}});
  return -1;
}

}  // namespace nuvel::installer
