// Message files: any file opens or is refused, and every lookup of its keys (and of keys it
// lacks) stays inside the file, whatever its header, index and offsets say.
#include <string>
#include <string_view>
#include <vector>

#include "base/strings.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace nuvel;

// The first tokens of the index: the keys the file claims to hold, and the codes after them.
std::vector<std::string> IndexTokens(std::string_view data) {
  std::vector<std::string> tokens;
  std::size_t at = std::min<std::size_t>(6, data.size());
  while (tokens.size() < 12 && at < data.size()) {
    std::size_t end = data.find(' ', at);
    if (end == std::string_view::npos) end = data.size();
    if (end > at) tokens.emplace_back(data.substr(at, std::min<std::size_t>(end - at, 64)));
    at = end + 1;
  }
  return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string file = fuzz::ScratchFolder() + "/messages.luc";
  fuzz::WriteWholeFile(file, bytes);

  // Slot 1 holds a source's message file; the interface slots also look up the OS language.
  constexpr int kSlot = 1;
  base::CloseStrRez(kSlot);
  if (!base::OpenMessageFile(kSlot, file)) return 0;
  std::vector<std::string> keys = IndexTokens(bytes);
  keys.insert(keys.end(), {"MSG_Button_OK", "MSG_TEMP_" "passed-through text", "", "MSG_"});
  for (const std::string& key : keys) {
    for (const char* language : {"", "ENG", "FRA", "THA"}) {
      base::StrRezByLanguage(kSlot, key, language);
    }
    base::StrRez(kSlot, key);
    std::string filled = base::StrRezf(kSlot, key, {"one", "^1^2", ""});
    if (filled.size() > size + 3 * 9 * 4 + key.size() + 4096) {
      fuzz::Broken("a text larger than its file");
    }
    base::PStrRez(kSlot, key);
  }
  base::CloseStrRez(kSlot);
  return 0;
}
