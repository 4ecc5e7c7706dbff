// The files a source describes itself with: any Products.INF gives a product list that is
// sound (at most 99 products, no folder that leaves the data folder) or is refused, and any
// VERSION file gives its first line.
#include <filesystem>
#include <string>
#include <string_view>

#include "base/run_state.h"
#include "fuzz/fuzz_support.h"
#include "installer/sources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nuvel;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string root = fuzz::ScratchFolder() + "/source";
  static const bool made = std::filesystem::create_directories(root + "/install/data");
  (void)made;

  fuzz::WriteWholeFile(root + "/install/data/Products.INF", bytes);
  base::Run().current_dir = root + "/";
  installer::CheckProdExistance();
  const installer::SourceState& sources = installer::Sources();
  if (sources.prodList.size() > static_cast<std::size_t>(installer::kMaxFoundProducts)) {
    fuzz::Broken("more products than Products.INF may hold");
  }
  for (const installer::FoundProduct& product : sources.prodList) {
    const std::string& folder = product.folder;
    if (folder.find('/') != std::string::npos || folder.find('\\') != std::string::npos ||
        folder.find("..") != std::string::npos) {
      fuzz::Broken("a product folder that leaves the data folder: " + folder);
    }
    if (folder.size() >= installer::kFolderField) fuzz::Broken("a folder longer than its field");
  }

  fuzz::WriteWholeFile(root + "/VERSION", bytes);
  std::string line;
  if (installer::VerifyVersionFile(root, &line) == 1 &&
      (line.find_first_of("\r\n") != std::string::npos || line.size() > size)) {
    fuzz::Broken("the first line of VERSION holds a line end");
  }
  return 0;
}
