// nuvel-setup: installs, updates and uninstalls the courses of an installation source.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/terminal.h"
#include "records/server_settings.h"
#include "setup/driver.h"
#include "setup/inventory.h"
#include "setup/version.h"
#include "ui/dialog.h"
#include "ui/script/script_backend.h"
#include "ui/terminal/terminal_backend.h"
#if NUVEL_HAVE_QT
#include "ui/qt/qt_backend.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: nuvel-setup [--source DIR] [--ui qt|terminal|script] [--answers FILE]\n"
    "                   [--transcript FILE] [--record-answers FILE] [--control]\n"
    "                   [--quiet] [--version] [--help]\n"
    "       nuvel-setup --list [--source DIR] [--json]\n"
    "       nuvel-setup --server-checksum RECORDS_ADDRESS STREAMING_ADDRESS\n"
    "\n"
    "Installs, updates and uninstalls the courses of an installation source.\n"
    "\n"
    "  --source DIR           the installation source (default: the folder that holds this\n"
    "                         program, or the folder holding Setup.app when it runs inside one)\n"
    "  --ui NAME              the user interface: qt (the desktop; the default when DISPLAY or\n"
    "                         WAYLAND_DISPLAY names a display), terminal, or script (answers\n"
    "                         from a file)\n"
    "  --answers FILE         answer every dialog from FILE (unattended runs; implies script)\n"
    "  --transcript FILE      write every dialog shown and its answer to FILE (JSON Lines)\n"
    "  --record-answers FILE  write this run's answers to FILE, to replay it with --answers\n"
    "  --control              hold the Control key for the whole run\n"
    "  --quiet                with --answers: no progress lines (a line per course started\n"
    "                         and per tenth of each copy) and no summary line at the end\n"
    "  --list                 print the courses of the source and of this machine, and what\n"
    "                         installing each would do (new, same, more_recent, older,\n"
    "                         incomplete); shows no dialog and writes nothing\n"
    "  --json                 with --list: one JSON object (its fields are in the README)\n"
    "  --version              print the version and exit\n"
    "  --help                 print this text and exit\n"
    "  --server-checksum RECORDS_ADDRESS STREAMING_ADDRESS\n"
    "                         print the checksum a school's own Records server needs in\n"
    "                         records.ini (serverchecksum) and exit\n"
    "\n"
    "Exit status: 0 finished, cancelled or quit; 1 setup incomplete or the Records-server\n"
    "login failed; 2 usage error; 3 the answer file did not answer a dialog; 4 another Setup\n"
    "is running.\n";

#if NUVEL_HAVE_QT
constexpr bool kHaveDesktop = true;
#else
constexpr bool kHaveDesktop = false;
#endif

int UsageError(const std::string& message) {
  std::fprintf(stderr, "nuvel-setup: %s\n\n%s", message.c_str(), kUsage);
  return nuvel::setup::kExitUsage;
}

struct CommandLine {
  nuvel::setup::DriverOptions driver;
  std::string ui, answers, transcript, record_answers;
  bool control = false;
  bool list = false, json = false;
};

// Reads "--name VALUE" or "--name=VALUE" at argv[i]; true when `arg` is that option.
bool OptionValue(const std::string& arg, const char* name, int& i, int argc, char** argv,
                 std::string& value, std::string& error) {
  std::string prefix = std::string(name) + "=";
  if (arg == name) {
    if (i + 1 >= argc) {
      error = std::string(name) + " needs a value";
      return true;
    }
    value = argv[++i];
    return true;
  }
  if (arg.starts_with(prefix)) {
    value = arg.substr(prefix.size());
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace nuvel;
  CommandLine cmd;
  cmd.driver.argv.assign(argv, argv + argc);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], error;
    if (arg == "--version") {
      std::printf("%s (%s)\n", setup::SETUP_VERSION, setup::kBuildTag);
      return 0;
    }
    if (arg == "--server-checksum") {
      if (i + 2 >= argc) {
        return UsageError("--server-checksum needs RECORDS_ADDRESS and STREAMING_ADDRESS");
      }
      std::printf("%s\n", records::SettingsChecksum(argv[i + 1], argv[i + 2]).c_str());
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--control") {
      cmd.control = true;
    } else if (arg == "--quiet") {
      cmd.driver.quiet = true;
    } else if (arg == "--list") {
      cmd.list = true;
    } else if (arg == "--json") {
      cmd.json = true;
    } else if (OptionValue(arg, "--source", i, argc, argv, cmd.driver.source, error) ||
               OptionValue(arg, "--ui", i, argc, argv, cmd.ui, error) ||
               OptionValue(arg, "--answers", i, argc, argv, cmd.answers, error) ||
               OptionValue(arg, "--transcript", i, argc, argv, cmd.transcript, error) ||
               OptionValue(arg, "--record-answers", i, argc, argv, cmd.record_answers, error)) {
      if (!error.empty()) return UsageError(error);
    } else {
      return UsageError("unknown argument '" + arg + "'");
    }
  }

  if (cmd.driver.source.empty()) cmd.driver.source = platform::ApplicationFolder();
  cmd.driver.source = platform::AbsolutePath(cmd.driver.source);
  if (!platform::IsDirectory(cmd.driver.source)) {
    return UsageError("the installation source '" + cmd.driver.source + "' is not a folder");
  }
  if (cmd.json && !cmd.list) return UsageError("--json goes with --list");
  if (cmd.list) return setup::RunList(cmd.driver.source, cmd.json);

  // The back end: named by --ui, else script with --answers, else the desktop when there is a
  // display, else the terminal.
  if (cmd.ui.empty()) {
    cmd.ui = !cmd.answers.empty()                          ? "script"
             : kHaveDesktop && platform::DisplayAvailable() ? "qt"
                                                            : "terminal";
  }
  std::string error;
  std::unique_ptr<ui::Backend> backend;
  if (cmd.ui == "script") {
    backend = cmd.answers.empty() ? ui::MakeScriptBackend("", &error)
                                  : ui::LoadScriptBackend(cmd.answers, &error);
  } else if (cmd.ui == "terminal") {
    if (!cmd.answers.empty()) return UsageError("--answers goes with --ui script");
    backend = ui::MakeTerminalBackend(&error);
  } else if (cmd.ui == "qt") {
    if (!cmd.answers.empty()) return UsageError("--answers goes with --ui script");
#if NUVEL_HAVE_QT
    backend = ui::MakeQtBackend(&error);
#else
    return UsageError("this build has no desktop interface; use --ui terminal or --answers FILE");
#endif
  } else {
    return UsageError("unknown user interface '" + cmd.ui + "' (qt, terminal or script)");
  }
  if (!backend) return UsageError(error);
  ui::SetBackend(std::move(backend));
  if (cmd.control) ui::HoldControlKey();
  if (!cmd.transcript.empty() && !ui::OpenTranscript(platform::AbsolutePath(cmd.transcript))) {
    return UsageError("cannot write the transcript '" + cmd.transcript + "'");
  }
  if (!cmd.record_answers.empty() &&
      !ui::OpenRecordedAnswers(platform::AbsolutePath(cmd.record_answers))) {
    return UsageError("cannot write the recorded answers '" + cmd.record_answers + "'");
  }
  return setup::RunSetup(cmd.driver);
}
