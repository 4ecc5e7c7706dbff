// Zip expansion on any archive, into a destination where a link to a folder outside and a link
// to a file outside are planted: nothing is ever written outside the destination.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "installer/expand.h"

namespace {

namespace fs = std::filesystem;

// The folder's entries and their sizes, without following links.
std::string Listing(const std::string& folder) {
  std::string text;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st{};
    ::lstat(it->path().c_str(), &st);
    text += it->path().string() + " " + std::to_string(st.st_mode) + " " +
            std::to_string(st.st_size) + "\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nuvel;
  const std::string root = fuzz::ScratchFolder();
  fuzz::EmptyFolder(root);
  const std::string outside = root + "/outside";
  const std::string dest = root + "/dest";
  fs::create_directories(outside + "/folder");
  fuzz::WriteWholeFile(outside + "/file", "outside");
  fs::create_directories(dest);
  fs::create_directory_symlink(outside + "/folder", dest + "/linked");
  fs::create_symlink(outside + "/file", dest + "/linked.txt");
  fuzz::WriteWholeFile(root + "/archive.zip",
                       std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string before = Listing(root + "/outside") + fuzz::ReadWholeFile(outside + "/file");

  installer::ExtractReport report;
  installer::ExtractArchive(root + "/archive.zip", dest, nullptr, report);

  if (Listing(root + "/outside") + fuzz::ReadWholeFile(outside + "/file") != before) {
    fuzz::Broken("expansion wrote outside its destination:\n" + Listing(root));
  }
  for (const auto& entry : fs::directory_iterator(root)) {
    std::string name = entry.path().filename();
    if (name != "outside" && name != "dest" && name != "archive.zip") {
      fuzz::Broken("expansion wrote beside its destination: " + name);
    }
  }
  return 0;
}
