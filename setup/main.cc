// nuvel-setup: installs, updates and uninstalls the courses of an installation source.

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/folders.h"
#include "setup/driver.h"
#include "setup/version.h"

namespace {

constexpr const char* kUsage =
    "usage: nuvel-setup [--source DIR] [--version] [--help]\n"
    "\n"
    "Installs, updates and uninstalls the courses of an installation source.\n"
    "\n"
    "  --source DIR  the installation source (default: the folder that holds this program,\n"
    "                or the folder holding Setup.app when it runs from inside one)\n"
    "  --version     print the version and exit\n"
    "  --help        print this text and exit\n"
    "\n"
    "Exit status: 0 finished, cancelled or quit; 1 setup incomplete; 2 usage error.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "nuvel-setup: %s\n\n%s", message.c_str(), kUsage);
  return nuvel::setup::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  nuvel::setup::DriverOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--version") {
      std::printf("%s (%s)\n", nuvel::setup::SETUP_VERSION, nuvel::setup::kBuildTag);
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--source") {
      if (i + 1 >= argc) return UsageError("--source needs a folder");
      options.source = argv[++i];
    } else if (arg.rfind("--source=", 0) == 0) {
      options.source = arg.substr(std::strlen("--source="));
    } else {
      return UsageError("unknown argument '" + arg + "'");
    }
  }
  if (options.source.empty()) options.source = nuvel::platform::ApplicationFolder();
  options.source = nuvel::platform::AbsolutePath(options.source);
  if (!nuvel::platform::IsDirectory(options.source)) {
    return UsageError("the installation source '" + options.source + "' is not a folder");
  }
  return nuvel::setup::RunSetup(options);
}
