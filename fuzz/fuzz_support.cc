#include "fuzz/fuzz_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>

#include "base/log.h"

namespace nuvel::fuzz {
namespace fs = std::filesystem;

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    // The program logs nowhere during fuzzing: the log would grow with every input.
    base::StopLogging();
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/nuvel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) Broken("cannot create a scratch folder");
    return pattern;
  }();
  return folder;
}

void EmptyFolder(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
}

void WriteWholeFile(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out.flush()) Broken("cannot write " + path);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace nuvel::fuzz
