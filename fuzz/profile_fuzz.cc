// The profile engine on any file: reading never fails, and a setting written is read back as
// written, while text that would add lines of its own is refused and leaves the file alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "base/profile_file.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace nuvel;

constexpr std::size_t kReadSize = 4096;

bool IsDelimiter(char c) { return c == '=' || c == ' ' || c == '\t'; }

// A section or key that a lookup can find again: its line's first token is exactly it.
bool IsFindableToken(const std::string& token, std::size_t room) {
  return !token.empty() && token.size() <= room &&
         std::none_of(token.begin(), token.end(), IsDelimiter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string section = input.ConsumeRandomLengthString(64);
  std::string key = input.ConsumeRandomLengthString(64);
  std::string value = input.ConsumeRandomLengthString(512);
  std::string contents = input.ConsumeRemainingBytesAsString();

  const std::string file = fuzz::ScratchFolder() + "/profile.ini";
  fuzz::WriteWholeFile(file, contents);
  base::FreePrivateProfile();

  std::string buffer;
  base::GetPrivateProfileString(section, key, "-", buffer, base::kProfileValueSize, file);
  if (buffer.size() >= base::kProfileValueSize) fuzz::Broken("a value longer than its buffer");
  base::GetNuvelPrivateProfileString(section, key, "", buffer, 16, file);
  int flag = 0;
  base::Set_YN_ini_Value(buffer, flag);

  int written = base::WritePrivateProfileString(section, key, value, file);
  bool storable = !section.empty() && base::IsStorableProfileText(section) &&
                  base::IsStorableProfileText(key) && base::IsStorableProfileText(value);
  if (!storable) {
    if (written != -2) fuzz::Broken("text with a line break or control character was stored");
    if (fuzz::ReadWholeFile(file) != contents) fuzz::Broken("a refused write changed the file");
    return 0;
  }
  if (written == -2) fuzz::Broken("a storable setting could not be written");

  // Written lines are "key=value"; a lookup finds the key when the header and the key line
  // each start with exactly the section and key, and the line is not cut when it is read.
  const std::size_t match_room = 254;
  if (!IsFindableToken(section, match_room - 2) || !IsFindableToken(key, match_room) ||
      key.size() + 1 + value.size() >= kReadSize) {
    return 0;
  }
  // Read as the program reads its settings: without the spaces around the value.
  base::FreePrivateProfile();
  base::GetNuvelPrivateProfileString(section, key, "<missing>", buffer, kReadSize, file);
  std::string expected = value.substr(std::min(value.find_first_not_of('\t'), value.size()));
  base::StripProfileValue(expected);
  // An empty value for a key that is not there yet stores nothing; the lookup falls back.
  if (value.empty() && buffer == "<missing>") return 0;
  if (buffer != expected) {
    fuzz::Broken("wrote [" + section + "] " + key + "=" + value + ", read back " + buffer);
  }
  return 0;
}
