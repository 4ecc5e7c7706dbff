// make_luc: compiles the message catalogs (one "CODE.txt" per interface language) into one
// message file that the strings module reads (engine.luc).
//
// Catalog lines are "KEY = text"; blank lines and lines starting with "#" are skipped. "\n"
// in a text stays as written (the reader turns it into a line break), and "^1".."^9" are
// placeholders. Texts are UTF-8.
//
// Output layout:
//   bytes 0-5   the index length L as six decimal digits, then CR LF
//   bytes 8..   the index: per key "KEY n CODE1 OFFSET1 ... CODEn OFFSETn", every token
//               followed by one space; keys upper-cased, English listed first
//   byte L+8..  the data area: each text followed by "^^" CR; offsets count from here
// The reader treats the byte at L + 7 (the index's last space) as the end of the index.
//
// Keys are placed shorter first, so that no key occurs inside a key placed before it: a reader
// that takes the first plain-text occurrence of a key finds its own entry.
//
// Usage: make_luc OUTPUT INPUT.txt...   Exit status 0 on success, 1 on any error.
//
//        make_luc --english-table OUTPUT.inc ENG.txt
// writes the English texts as C++ initialisers, one {"KEY", "text"} per key, keys upper-cased
// and sorted, texts as written in the catalog. The program compiles them in as the last
// fall-back, so that a text is shown even when no message file can be opened.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Texts of this size or more are replaced by English on screen (they do not fit the callers'
// buffers); the catalog must stay below it.
constexpr std::size_t kMaxTextBytes = 250;
constexpr std::size_t kMaxKeyBytes = 255;
constexpr std::size_t kMaxIndexLength = 999999;

struct Text {
  std::string text;
  std::string file;
  int line = 0;
};

struct Catalog {
  std::string code;
  std::string file;
  std::map<std::string, Text> texts;  // by upper-cased key
};

int g_errors = 0;

void Error(const std::string& file, int line, const std::string& message) {
  ++g_errors;
  std::cerr << "make_luc: " << file;
  if (line > 0) std::cerr << ":" << line;
  std::cerr << ": " << message << "\n";
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsKeyChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

// Empty when the key is acceptable, else why not.
std::string KeyProblem(std::string_view key) {
  if (key.empty()) return "missing key before \"=\"";
  if (key.size() > kMaxKeyBytes) return "key longer than 255 characters";
  if (!IsLetter(key.front())) return "key must start with a letter";
  if (!std::all_of(key.begin(), key.end(), IsKeyChar)) {
    return "key may hold only letters, digits and \"_\"";
  }
  // Three letters would read as a language code in the index.
  if (key.size() == 3) return "key of three characters is not allowed (reads as a language code)";
  return "";
}

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

bool ReadCatalog(const std::string& path, Catalog& catalog) {
  std::string stem = fs::path(path).stem().string();
  catalog.file = path;
  catalog.code = Upper(stem);
  if (catalog.code.size() != 3 ||
      !std::all_of(catalog.code.begin(), catalog.code.end(), IsLetter)) {
    Error(path, 0, "the file name must be a three-letter language code, as in ENG.txt");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Error(path, 0, "cannot be read");
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view content = Trim(line);
    if (content.empty() || content.front() == '#') continue;
    if (!IsValidUtf8(content)) {
      Error(path, number, "the line is not valid UTF-8");
      continue;
    }
    if (std::any_of(content.begin(), content.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 32 && c != '\t'; })) {
      Error(path, number,
            "control characters are not allowed in a text (write \\n for a line break)");
      continue;
    }
    std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
      Error(path, number, "expected \"KEY = text\"");
      continue;
    }
    std::string_view key = Trim(content.substr(0, equals));
    std::string_view text = Trim(content.substr(equals + 1));
    if (std::string problem = KeyProblem(key); !problem.empty()) {
      Error(path, number, problem);
      continue;
    }
    if (text.size() > kMaxTextBytes) {
      Error(path, number,
            std::string(key) + ": text of " + std::to_string(text.size()) +
                " bytes; at most 250 bytes are shown in this language");
      continue;
    }
    std::string upper = Upper(key);
    auto [it, inserted] = catalog.texts.try_emplace(upper, Text{std::string(text), path, number});
    if (!inserted) {
      Error(path, number,
            std::string(key) + " is defined twice (first on line " +
                std::to_string(it->second.line) + ")");
    }
  }
  return true;
}

// A C++ string literal of `text`: quotes and backslashes escaped, every byte outside printable
// ASCII as a three-digit octal escape (which never runs into the next character).
// Written beside the target and renamed, so that a failed build never leaves half a file.
int WriteBeside(const std::string& output, const std::string& bytes) {
  std::string temporary = output + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) {
      Error(temporary, 0, "cannot be written");
      return 1;
    }
  }
  std::error_code ec;
  fs::rename(temporary, output, ec);
  if (ec) {
    Error(output, 0, "cannot be written: " + ec.message());
    fs::remove(temporary, ec);
    return 1;
  }
  return 0;
}

std::string CxxLiteral(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

int WriteEnglishTable(const std::string& output, const std::string& input) {
  Catalog english;
  if (!ReadCatalog(input, english)) return 1;
  if (english.code != "ENG") Error(input, 0, "the English table is made from ENG.txt");
  if (g_errors) return 1;
  std::string table = "// Generated by make_luc from " + fs::path(input).filename().string() +
                      ": do not edit.\n";
  for (const auto& [key, text] : english.texts) {
    table += "{" + CxxLiteral(key) + ", " + CxxLiteral(text.text) + "},\n";
  }
  return WriteBeside(output, table);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--english-table") {
    return WriteEnglishTable(argv[2], argv[3]);
  }
  if (argc < 3) {
    std::cerr << "usage: make_luc OUTPUT INPUT.txt...\n"
                 "       make_luc --english-table OUTPUT.inc ENG.txt\n";
    return 1;
  }
  const std::string output = argv[1];

  std::vector<Catalog> catalogs;
  for (int i = 2; i < argc; ++i) {
    Catalog catalog;
    if (!ReadCatalog(argv[i], catalog)) continue;
    for (const Catalog& other : catalogs) {
      if (other.code == catalog.code)
        Error(argv[i], 0, "language " + catalog.code + " given twice");
    }
    catalogs.push_back(std::move(catalog));
  }
  // English first: it is the fall-back of every other language.
  std::stable_sort(catalogs.begin(), catalogs.end(), [](const Catalog& a, const Catalog& b) {
    if ((a.code == "ENG") != (b.code == "ENG")) return a.code == "ENG";
    return a.code < b.code;
  });
  if (catalogs.empty() || catalogs.front().code != "ENG") {
    Error(output, 0, "no English catalog (ENG.txt) among the inputs");
  } else {
    const Catalog& english = catalogs.front();
    for (const Catalog& catalog : catalogs) {
      for (const auto& [key, text] : catalog.texts) {
        if (!english.texts.count(key)) {
          Error(text.file, text.line, key + " has no English text in " + english.file);
        }
      }
    }
  }
  if (g_errors) return 1;

  const Catalog& english = catalogs.front();
  std::vector<std::string> keys;
  for (const auto& entry : english.texts) keys.push_back(entry.first);
  std::stable_sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });

  std::string index;
  std::string data;
  for (const std::string& key : keys) {
    std::string pairs;
    int count = 0;
    for (const Catalog& catalog : catalogs) {
      auto it = catalog.texts.find(key);
      if (it == catalog.texts.end()) continue;
      pairs += catalog.code + " " + std::to_string(data.size()) + " ";
      data += it->second.text;
      data += "^^\r";
      ++count;
    }
    index += key + " " + std::to_string(count) + " " + pairs;
  }
  if (index.size() > kMaxIndexLength) {
    Error(output, 0, "index of " + std::to_string(index.size()) + " bytes does not fit the header");
    return 1;
  }
  char header[16];
  std::snprintf(header, sizeof header, "%06zu\r\n", index.size());

  return WriteBeside(output, header + index + data);
}
