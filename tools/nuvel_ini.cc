// nuvel-ini: reads and writes profile files (records.ini, setup.ini, ...) exactly as
// nuvel-setup does, for technicians' scripts and black-box tests.
//
//   nuvel-ini get FILE SECTION KEY         prints the value; exit 1 when the key is not set
//   nuvel-ini set FILE SECTION KEY VALUE   stores the value (CR LF lines, atomic rewrite)
//   nuvel-ini remove FILE SECTION KEY      removes the key's lines; exit 1 when it was not set

#include <cstdio>
#include <string>

#include "base/profile_file.h"

namespace {

int Usage() {
  std::fputs(
      "usage: nuvel-ini get FILE SECTION KEY\n"
      "       nuvel-ini set FILE SECTION KEY VALUE\n"
      "       nuvel-ini remove FILE SECTION KEY\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return Usage();
  std::string command = argv[1], file = argv[2], section = argv[3], key = argv[4];
  if (command == "get" && argc == 5) {
    std::string value = nuvel::base::ProfileValue(section, key, "", file);
    if (value.empty()) return 1;
    std::printf("%s\n", value.c_str());
    return 0;
  }
  if (command == "set" && argc == 6) {
    std::string value = argv[5];
    if (!nuvel::base::IsStorableProfileText(section) || !nuvel::base::IsStorableProfileText(key) ||
        !nuvel::base::IsStorableProfileText(value)) {
      std::fputs("nuvel-ini: a section, key or value may not hold a line break or control "
                 "character\n",
                 stderr);
      return 2;
    }
    if (nuvel::base::StoreProfileValue(section, key, value, file)) {
      std::fprintf(stderr, "nuvel-ini: cannot write %s\n", file.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "remove" && argc == 5) {
    bool removed = false;
    if (nuvel::base::RemoveProfileKey(section, key, file, &removed)) {
      std::fprintf(stderr, "nuvel-ini: cannot write %s\n", file.c_str());
      return 1;
    }
    return removed ? 0 : 1;
  }
  return Usage();
}
