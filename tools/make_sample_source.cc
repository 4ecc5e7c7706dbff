// make-sample-source: writes a realistic installation source, for scenario tests, benchmarks and
// technicians who want to try an installation without a disc.
//
//   make-sample-source [--content-mb N] [--engine-luc FILE] [--products-inf] [--no-disc-marks]
//                      [--bundle-without-icon NAME] [--content-as mixed|folders|archives]
//                      [--download-tree DIR] [--force] OUTPUT_DIR
//
// The source holds every kind of product the installer handles: a multilingual course with
// several support languages and the GEN/KID variant folders, an English-only course, one course
// in two versions, a placement test and a course whose content comes as archives in
// Nuvel/courses_d (media as placeholders, the real files in Nuvel/audio_d_50). Beside them: the
// companion application bundles and the speech-recognition technology in install/MacOS, the
// source-wide options (setup.ini), the version list with the Records-server list (versions.ini),
// the support files with the message file, the documents folder and the VERSION file.
//
// Everything written is a function of the options: file bodies come from generators seeded by
// each file's path, archive members carry one fixed date and no file holds a time stamp, so two
// runs with the same options write the same bytes. Large files are streamed in chunks; nothing
// holds a whole file in memory, so benchmarks can ask for gigabytes.
//
// Exit status: 0 written, 1 the source could not be written, 2 usage error.

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "installer/product_table.h"
#include "records/server_settings.h"

#ifndef NUVEL_DEFAULT_ENGINE_LUC
#define NUVEL_DEFAULT_ENGINE_LUC ""
#endif

namespace nuvel::tools {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

// Archive members are dated 2010-01-01 12:00 UTC; the program runs in UTC so that the DOS date
// written into the archive does not depend on the machine's time zone.
constexpr std::time_t kArchiveTime = 1262347200;

// Media files shorter than this are placeholders that the installer replaces by the real file.
constexpr std::uint64_t kPlaceholderLimit = 20;
constexpr std::string_view kPlaceholder = "NUVEL-MEDIA\r\n";
constexpr std::string_view kStreamedPlaceholder = "STREAMED\r\n";
static_assert(kPlaceholder.size() < kPlaceholderLimit &&
              kStreamedPlaceholder.size() < kPlaceholderLimit);

// The 47-character identification line of a VERSION file; "SC" at offsets 34 and 35 marks
// content. Offsets 0-2 take the product number, 4-6 the folder's code, 12 and 14 the version.
constexpr std::string_view kVersionTemplate = "xxx MUL 01 V4-2     --------- 201.SC 040.00 008";

class GenerateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// Small helpers

template <typename... Args>
std::string Format(const char* format, Args... args) {
  int length = std::snprintf(nullptr, 0, format, args...);
  std::string out(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<std::size_t>(std::max(length, 0)));
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string WithThousands(std::uint64_t value) {
  std::string digits = std::to_string(value), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// A profile file as the installer reads it: "[section]" and key=value lines, CR LF line ends.
class IniText {
 public:
  explicit IniText(std::string_view section) { Line("[" + std::string(section) + "]"); }
  IniText& Comment(std::string_view text) { return Line("; " + std::string(text)); }
  IniText& Set(std::string_view key, std::string_view value) {
    return Line(std::string(key) + "=" + std::string(value));
  }
  IniText& Line(std::string_view line) {
    text_ += line;
    text_ += "\r\n";
    return *this;
  }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

// ---------------------------------------------------------------------------------------------
// File bodies

// The bytes of one generated file: a text header (or the whole text of a small file) followed
// by pseudo-random bytes from a generator seeded by the file's path, so that every file differs,
// none compresses, and the body can be produced again from the start at any time.
class FileBody {
 public:
  FileBody(std::string header, std::uint64_t size, std::uint64_t seed)
      : header_(std::move(header)),
        size_(std::max<std::uint64_t>(size, header_.size())),
        seed_(seed) {
    Rewind();
  }
  // A file that holds exactly `text`.
  static FileBody Text(std::string text) {
    std::uint64_t size = text.size();
    return FileBody(std::move(text), size, 0);
  }

  std::uint64_t size() const { return size_; }

  void Rewind() {
    position_ = 0;
    state_ = seed_;
    spareBytes_ = 0;
  }

  /// Copies up to `n` further bytes into `out`; 0 at the end.
  std::size_t Read(char* out, std::size_t n) {
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - position_));
    std::size_t done = 0;
    while (done < n && position_ < header_.size()) {
      out[done++] = header_[static_cast<std::size_t>(position_++)];
    }
    while (done < n) {
      if (spareBytes_ == 0) {
        spare_ = Next();
        spareBytes_ = 8;
      }
      out[done++] = static_cast<char>(spare_ & 0xFF);
      spare_ >>= 8;
      --spareBytes_;
      ++position_;
    }
    return n;
  }

 private:
  // splitmix64: fast, and the same sequence on every machine.
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  std::string header_;
  std::uint64_t size_;
  std::uint64_t seed_;
  std::uint64_t position_ = 0;
  std::uint64_t state_ = 0;
  std::uint64_t spare_ = 0;
  int spareBytes_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Pictures

void PutBigEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutBigEndian16(std::string& out, std::uint32_t value) {
  out += static_cast<char>((value >> 8) & 0xFF);
  out += static_cast<char>(value & 0xFF);
}

struct Rgb {
  std::uint8_t r, g, b;
};

// A square single-colour PNG (8-bit RGB, not interlaced), the size of an application icon.
std::string MakePng(Rgb colour, std::uint32_t side = 16) {
  auto chunk = [](std::string& out, std::string_view type, const std::string& data) {
    PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    std::string typed = std::string(type) + data;
    out += typed;
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    PutBigEndian32(out, static_cast<std::uint32_t>(crc));
  };
  std::string header;
  PutBigEndian32(header, side);
  PutBigEndian32(header, side);
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // depth 8, RGB, deflate, no filter, no interlace

  std::string rows;
  for (std::uint32_t y = 0; y < side; ++y) {
    rows += '\0';  // filter type None
    for (std::uint32_t x = 0; x < side; ++x) {
      rows += static_cast<char>(colour.r);
      rows += static_cast<char>(colour.g);
      rows += static_cast<char>(colour.b);
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    throw GenerateError("zlib could not compress an icon");
  }
  packed.resize(packedSize);

  std::string png = "\x89PNG\r\n\x1a\n";
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", "");
  return png;
}

// Entropy-coded JPEG data: bits are written from the most significant end, a 0xFF byte is
// followed by a stuffed 0x00, and the last byte is padded with one-bits.
class JpegBits {
 public:
  void Put(std::uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
      accumulator_ = static_cast<std::uint8_t>((accumulator_ << 1) | ((bits >> i) & 1));
      if (++filled_ == 8) Flush();
    }
  }
  std::string Finish() {
    while (filled_ != 0) Put(1, 1);
    return bytes_;
  }

 private:
  void Flush() {
    bytes_ += static_cast<char>(accumulator_);
    if (accumulator_ == 0xFF) bytes_ += '\0';
    accumulator_ = 0;
    filled_ = 0;
  }
  std::string bytes_;
  std::uint8_t accumulator_ = 0;
  int filled_ = 0;
};

// The launcher picture: a 32x16 baseline JPEG (JFIF, YCbCr without subsampling) made of eight
// single-colour 8x8 blocks. Every block is flat, so only DC coefficients are coded: the DC
// table holds the nine size categories 0..8 (all codes 4 bits long) and the AC table holds
// only end-of-block (the 1-bit code 0). A quantizer of 8 turns a block's DC coefficient into
// its level-shifted sample value, so differences stay within category 8.
std::string MakeJpeg() {
  constexpr int kBlocksWide = 4, kBlocksHigh = 2;
  constexpr std::array<Rgb, kBlocksWide* kBlocksHigh> kBlocks = {{
      {0x1F, 0x4E, 0x8C},
      {0x2A, 0x6F, 0xB5},
      {0x45, 0x8F, 0xD0},
      {0x7F, 0xB8, 0xE8},
      {0xF2, 0x8C, 0x28},
      {0xF5, 0xA6, 0x4A},
      {0xF8, 0xC0, 0x72},
      {0xFB, 0xDA, 0xA0},
  }};
  auto segment = [](std::string& out, std::uint8_t marker, const std::string& body) {
    out += '\xFF';
    out += static_cast<char>(marker);
    PutBigEndian16(out, static_cast<std::uint32_t>(body.size() + 2));
    out += body;
  };

  std::string jpeg = "\xFF\xD8";
  segment(jpeg, 0xE0, std::string("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));
  segment(jpeg, 0xDB, std::string(1, '\0') + std::string(64, '\x08'));

  std::string frame = "\x08";  // 8-bit samples
  PutBigEndian16(frame, 8 * kBlocksHigh);
  PutBigEndian16(frame, 8 * kBlocksWide);
  frame += '\x03';
  for (char id : {'\x01', '\x02', '\x03'}) frame += std::string{id, '\x11', '\x00'};
  segment(jpeg, 0xC0, frame);

  std::string dcTable(1, '\x00');  // class DC, table 0
  std::array<char, 16> dcCounts{};
  dcCounts[3] = 9;  // nine codes of length 4
  dcTable.append(dcCounts.begin(), dcCounts.end());
  for (char symbol = 0; symbol <= 8; ++symbol) dcTable += symbol;
  segment(jpeg, 0xC4, dcTable);

  std::string acTable(1, '\x10');  // class AC, table 0
  std::array<char, 16> acCounts{};
  acCounts[0] = 1;  // one code of length 1: end of block
  acTable.append(acCounts.begin(), acCounts.end());
  acTable += '\x00';
  segment(jpeg, 0xC4, acTable);

  std::string scan = "\x03";
  for (char id : {'\x01', '\x02', '\x03'}) scan += std::string{id, '\x00'};
  scan += std::string("\x00\x3F\x00", 3);  // spectral selection 0..63, no approximation
  segment(jpeg, 0xDA, scan);

  JpegBits bits;
  std::array<int, 3> previousDc{};
  auto rounded = [](int value) { return (value + 32768) >> 16; };  // 16.16 fixed point
  for (const Rgb& c : kBlocks) {
    const int r = c.r, g = c.g, b = c.b;
    const std::array<int, 3> samples = {
        rounded(19595 * r + 38470 * g + 7471 * b),
        rounded(-11059 * r - 21709 * g + 32768 * b) + 128,
        rounded(32768 * r - 27439 * g - 5329 * b) + 128,
    };
    for (std::size_t component = 0; component < 3; ++component) {
      int dc = std::clamp(samples[component], 0, 255) - 128;
      int diff = dc - previousDc[component];
      previousDc[component] = dc;
      int category = 0;
      for (int magnitude = diff < 0 ? -diff : diff; magnitude != 0; magnitude >>= 1) ++category;
      bits.Put(static_cast<std::uint32_t>(category), 4);
      if (category != 0) {
        int extra = diff > 0 ? diff : diff + (1 << category) - 1;
        bits.Put(static_cast<std::uint32_t>(extra), category);
      }
      bits.Put(0, 1);  // end of block
    }
  }
  jpeg += bits.Finish();
  jpeg += "\xFF\xD9";
  return jpeg;
}

// ---------------------------------------------------------------------------------------------
// The output tree

// Writes files below the output folder and counts what was written; bytes below "Nuvel/" are
// the course content.
class Tree {
 public:
  explicit Tree(fs::path root) : root_(std::move(root)) {}

  fs::path Path(std::string_view relative) const { return root_ / fs::path(relative); }

  void MakeFolder(std::string_view relative) { CreateFolder(Path(relative)); }

  void Write(std::string_view relative, std::string_view text) {
    FileBody body = FileBody::Text(std::string(text));
    Write(relative, body);
  }

  void Write(std::string_view relative, FileBody& body) {
    fs::path path = Path(relative);
    CreateFolder(path.parent_path());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw GenerateError("cannot create " + path.string());
    body.Rewind();
    bool ok = true;
    for (std::size_t n; ok && (n = body.Read(buffer_.data(), buffer_.size())) != 0;) {
      ok = std::fwrite(buffer_.data(), 1, n, file) == n;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) throw GenerateError("cannot write " + path.string());
    Count(relative, body.size());
  }

  void Copy(std::string_view relative, const fs::path& from) {
    fs::path path = Path(relative);
    CreateFolder(path.parent_path());
    std::error_code error;
    fs::copy_file(from, path, fs::copy_options::overwrite_existing, error);
    if (error) throw GenerateError("cannot copy " + from.string() + ": " + error.message());
    CountFile(relative);
  }

  void MakeExecutable(std::string_view relative) {
    std::error_code error;
    fs::permissions(Path(relative),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
    if (error) throw GenerateError("cannot mark " + Path(relative).string() + " executable");
  }

  /// Counts a file written by other means (an archive).
  void CountFile(std::string_view relative) {
    std::error_code error;
    std::uintmax_t bytes = fs::file_size(Path(relative), error);
    if (error) throw GenerateError("cannot read the size of " + Path(relative).string());
    Count(relative, bytes);
  }

  std::uint64_t files() const { return files_; }
  std::uint64_t totalBytes() const { return totalBytes_; }
  std::uint64_t contentBytes() const { return contentBytes_; }

 private:
  void CreateFolder(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) throw GenerateError("cannot create " + path.string() + ": " + error.message());
  }

  void Count(std::string_view relative, std::uint64_t bytes) {
    ++files_;
    totalBytes_ += bytes;
    if (relative.starts_with("Nuvel/")) contentBytes_ += bytes;
  }

  fs::path root_;
  std::vector<char> buffer_ = std::vector<char>(kMiB);
  std::uint64_t files_ = 0, totalBytes_ = 0, contentBytes_ = 0;
};

// One zip archive being written. Members are read through callbacks at Close, one after the
// other, so an archive of any size is written without holding its members in memory.
class ArchiveWriter {
 public:
  explicit ArchiveWriter(const fs::path& path) : path_(path) {
    int error = 0;
    archive_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive_ == nullptr) throw GenerateError("cannot create the archive " + path.string());
  }
  ~ArchiveWriter() {
    if (archive_ != nullptr) zip_discard(archive_);
  }
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  void Add(const std::string& name, FileBody body) {
    members_.push_back(std::make_unique<Member>(std::move(body)));
    AddSource(name, zip_source_function(archive_, &Callback, members_.back().get()),
              ZIP_CM_DEFLATE, 6);
  }

  /// Adds a file that exists on disk, stored as it is (the download tree's archives hold
  /// generated, incompressible content, so compressing it again would only cost time).
  void AddFile(const std::string& name, const fs::path& from) {
    AddSource(name, zip_source_file(archive_, from.c_str(), 0, 0), ZIP_CM_STORE, 0);
  }

  /// Adds every file below `folder`, named by its path relative to `folder` with `prefix` in
  /// front, in name order (so that two runs write the same archive).
  void AddTree(const std::string& prefix, const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      AddFile(prefix + fs::relative(file, folder).generic_string(), file);
    }
  }

  void Close() {
    if (zip_close(archive_) != 0) {
      std::string reason = zip_strerror(archive_);
      throw GenerateError("cannot write " + path_.string() + ": " + reason);
    }
    archive_ = nullptr;
    members_.clear();
  }

 private:
  // Adds a member read from `source`, dated kArchiveTime, with this compression.
  void AddSource(const std::string& name, zip_source_t* source, zip_int32_t method,
                 zip_uint32_t level) {
    if (source == nullptr) throw GenerateError("libzip: " + std::string(zip_strerror(archive_)));
    zip_int64_t index = zip_file_add(archive_, name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) {
      zip_source_free(source);
      throw GenerateError("cannot add " + name + " to " + path_.string());
    }
    auto at = static_cast<zip_uint64_t>(index);
    if (zip_file_set_mtime(archive_, at, kArchiveTime, 0) != 0 ||
        zip_set_file_compression(archive_, at, method, level) != 0) {
      throw GenerateError("cannot set up " + name + " in " + path_.string());
    }
  }

  struct Member {
    explicit Member(FileBody b) : body(std::move(b)) { zip_error_init(&error); }
    ~Member() { zip_error_fini(&error); }
    FileBody body;
    zip_error_t error;
  };

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
    auto* member = static_cast<Member*>(state);
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        member->body.Rewind();
        return 0;
      case ZIP_SOURCE_READ:
        return static_cast<zip_int64_t>(member->body.Read(
            static_cast<char*>(data), static_cast<std::size_t>(std::min<zip_uint64_t>(
                                          length, std::numeric_limits<std::int32_t>::max()))));
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        stat->size = member->body.size();
        stat->mtime = kArchiveTime;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&member->error, data, length);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
      default:
        zip_error_set(&member->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  fs::path path_;
  zip_t* archive_ = nullptr;
  std::vector<std::unique_ptr<Member>> members_;
};

// ---------------------------------------------------------------------------------------------
// Options

enum class ContentLayout {
  kMixed,     // the archive course as archives, every other course as folders
  kFolders,   // every course as folders; no Nuvel/courses_d
  kArchives,  // every course as archives
};

struct Options {
  std::uint64_t contentMB = 2;
  fs::path engineLuc = NUVEL_DEFAULT_ENGINE_LUC;
  bool productsInf = false;
  bool discMarks = true;
  bool force = false;
  ContentLayout layout = ContentLayout::kMixed;
  std::string bundleWithoutIcon;  // bundle name without ".app"
  fs::path downloadTree;          // also write the download server's tree here
  fs::path output;
};

constexpr std::string_view kUsage =
    "usage: make-sample-source [options] OUTPUT_DIR\n"
    "  --content-mb N          size the course content at about N MiB (default 2)\n"
    "  --engine-luc FILE       message file copied into install/data/support\n"
    "                          (default: the engine.luc of this build)\n"
    "  --products-inf          also write install/data/Products.INF\n"
    "  --no-disc-marks         VERSION does not mark a content disc (no \"SC\")\n"
    "  --bundle-without-icon NAME\n"
    "                          leave the icon out of one companion bundle\n"
    "                          (Launcher, Records Manager, Analyzer or Freshen)\n"
    "  --content-as mixed|folders|archives\n"
    "                          course content as folders, as archives, or both (default)\n"
    "  --download-tree DIR     also write what the download server offers for this source\n"
    "                          (course archives in courses_d, VERSION2M.INI, SETUP.ZIP,\n"
    "                          FRESHEN.ZIP, ENGINE_LUC.ZIP) into DIR, and the small files of\n"
    "                          each course into Nuvel/content_d for forced course downloads\n"
    "  --force                 write into a non-empty folder, replacing an earlier source\n";

// ---------------------------------------------------------------------------------------------
// What the source holds

struct Companion {
  std::string_view name;  // bundle name without ".app"
  std::string_view versionsKey;
  int a, b, c, mid1, mid2;    // "a.b.c (MID vM1.M2)"
  std::string_view previous;  // this platform's previous release, the part before "~"
  Rgb icon;

  std::string ShortVersion() const { return Format("%d.%d.%d (MID v%d.%d)", a, b, c, mid1, mid2); }
  // The "%03d.%03d.%03d.%03d" form the installer derives from the version resource.
  std::string LongVersion() const {
    return Format("%03d.%03d.%03d.%03d", mid1 * 100 + mid2 * 10, a, b, c);
  }
};

constexpr std::array<Companion, 4> kCompanions = {{
    {"Launcher", "launcher2_ver", 4, 2, 7, 3, 6, "360.004.002.005", {0x2A, 0x6F, 0xB5}},
    {"Records Manager", "rm2_ver", 5, 1, 3, 3, 6, "360.005.001.001", {0x3C, 0x9A, 0x4E}},
    {"Analyzer", "analyze2_ver", 2, 8, 0, 3, 5, "350.002.007.009", {0xC8, 0x4B, 0x31}},
    {"Freshen", "freshen2_ver", 3, 0, 4, 3, 6, "360.003.000.002", {0xF2, 0x8C, 0x28}},
}};

// The speech-recognition engine, installed into techm/sr for courses with sr=y.
constexpr Companion kSpeechEngine = {"libbabear.dylib", "babel_ver_mac", 6, 4, 1, 3, 2,
                                     "320.006.003.008", {0, 0, 0}};

// The Setup version this tree is built with; versions.ini offers no newer one.
constexpr std::string_view kSetupVersion = "362.023.008.023";

struct Course {
  int number;
  std::string code;                    // "MUL" or "ENG"
  std::string digits;                  // version without its point: "50" is 5.0
  std::vector<std::string> languages;  // multiLanguages
  std::vector<std::string> variants;   // GEN and KID content folders
  int fixLevel;
  int fixVersion;
  bool speechRecognition;
  int parts;                   // discs of the course: disc_name_install_01 ...
  bool archived;               // content as archives when the layout is mixed
  bool updateForThisPlatform;  // versions.ini value carries "~"
  int weight;                  // share of the content budget

  std::string Folder() const { return Format("%03d", number) + code + digits; }
  bool Multilingual() const { return code == "MUL"; }
  bool EnglishOnly() const { return code == "ENG"; }
  std::string Version() const { return std::string{digits[0], '.', digits[1]}; }
  std::string Title() const {
    std::string title;
    installer::GetProductName(title, number);
    return title;
  }
  // Content subfolders: shared files, English, the variants, then the other support languages.
  std::vector<std::string> ContentFolders() const {
    std::vector<std::string> folders = {"COM", "ENG"};
    folders.insert(folders.end(), variants.begin(), variants.end());
    for (const std::string& language : languages) {
      if (language != "ENG") folders.push_back(language);
    }
    return folders;
  }
  // Media of version 5 and later live in audio_d_50, older ones in audio_d.
  std::string AudioFolder() const { return digits[0] >= '5' ? "audio_d_50" : "audio_d"; }
};

std::vector<Course> SampleCourses(ContentLayout layout) {
  const std::vector<std::string> five = {"ENG", "FRA", "SPN", "GER", "JPN"};
  const std::vector<std::string> three = {"ENG", "FRA", "SPN"};
  std::vector<Course> courses = {
      // The multilingual course, with speech recognition and both variant folders.
      {1, "MUL", "50", five, {"GEN", "KID"}, 362, 12, true, 1, false, true, 30},
      // One course in two versions; the older one has no update for this platform.
      {3, "MUL", "40", three, {}, 340, 7, false, 1, false, false, 10},
      {3, "MUL", "50", five, {}, 362, 9, false, 1, false, true, 15},
      // The course shipped as archives, on two discs.
      {6, "MUL", "50", {"ENG", "FRA", "JPN"}, {"GEN"}, 362, 11, false, 2, true, true, 30},
      // The English-only course.
      {10, "ENG", "50", {"ENG"}, {}, 362, 5, false, 1, false, true, 10},
      // The placement test.
      {installer::kGeneralPlacementTest, "MUL", "50", three, {}, 362, 3, false, 1, false, true, 5},
  };
  for (Course& course : courses) {
    if (layout == ContentLayout::kFolders) course.archived = false;
    if (layout == ContentLayout::kArchives) course.archived = true;
  }
  return courses;
}

// The product table is the authority on numbers; a course the table no longer knows would give
// a source the installer cannot describe.
void CheckAgainstProductTable(const std::vector<Course>& courses) {
  bool placementTest = false;
  for (const Course& course : courses) {
    if (!installer::IsProductANormalCourse(course.number)) {
      throw GenerateError(
          Format("product %03d is not a course of the product table", course.number));
    }
    placementTest = placementTest || installer::ProductIsAPlacementTest(course.number);
  }
  if (!placementTest) throw GenerateError("the product table has no placement test");
}

constexpr std::array<std::string_view, 12> kLessonTitles = {
    "Greetings and Introductions",
    "Numbers and Time",
    "At the Station",
    "Shopping for Food",
    "Asking the Way",
    "At the Hotel",
    "Talking about Family",
    "Work and Studies",
    "Weekend Plans",
    "At the Doctor's",
    "Telling a Story",
    "Review and Practice",
};

// ---------------------------------------------------------------------------------------------
// Course content

struct PlannedFile {
  std::string name;  // relative to the content subfolder
  FileBody body;
  bool media;  // .MP3/.MP4: a placeholder in archives, the real file in the audio folder
};

// Sizes of `count` files sharing `budget` bytes: each pair differs by a deterministic amount,
// the pair's sum stays, and the first file takes the remainder of the division.
std::vector<std::uint64_t> SpreadSizes(std::uint64_t budget, std::uint64_t count,
                                       std::uint64_t seed) {
  std::vector<std::uint64_t> sizes(count, budget / count);
  sizes[0] += budget % count;
  for (std::uint64_t i = 0; i + 1 < count; i += 2) {
    std::uint64_t delta = sizes[i + 1] * ((seed >> (i % 48)) % 40) / 100;
    sizes[i] += delta;
    sizes[i + 1] -= delta;
  }
  return sizes;
}

std::string LessonIndex(const Course& course, std::string_view folder, std::uint64_t lessonFiles) {
  IniText index("lessons");
  index.Comment(course.Title() + " (" + course.Folder() + "), " + std::string(folder));
  index.Set("language", folder);
  index.Set("count", std::to_string(kLessonTitles.size()));
  index.Set("files", std::to_string(lessonFiles));
  for (std::size_t i = 0; i < kLessonTitles.size(); ++i) {
    index.Set(Format("lesson_%02zu", i + 1), kLessonTitles[i]);
  }
  return index.str();
}

// The files of one content subfolder, sized to `budget`: the lesson index, lesson data (a
// quarter) and media (the rest) in files of about `unit` bytes, pictures in the shared folder.
std::vector<PlannedFile> PlanContentFolder(const Course& course, const std::string& folder,
                                           std::uint64_t budget, std::uint64_t unit) {
  const std::string where = course.Folder() + "/" + folder;
  std::vector<PlannedFile> files;
  const std::uint64_t lessonBudget = budget / 4, mediaBudget = budget - lessonBudget;
  const std::uint64_t lessonCount = std::max<std::uint64_t>(2, lessonBudget / unit);
  const std::uint64_t mediaCount = std::max<std::uint64_t>(2, mediaBudget / unit);

  files.push_back({"LESSONS.C", FileBody::Text(LessonIndex(course, folder, lessonCount)), false});

  std::vector<std::uint64_t> sizes = SpreadSizes(lessonBudget, lessonCount, Fnv1a(where + "/L"));
  for (std::uint64_t i = 0; i < lessonCount; ++i) {
    std::string name = Format("L%04llu.DAT", static_cast<unsigned long long>(i + 1));
    std::string header = "NUVEL LESSON DATA " + where + "/" + name + "\r\n";
    files.push_back({name, FileBody(header, sizes[i], Fnv1a(where + "/" + name)), false});
  }

  sizes = SpreadSizes(mediaBudget, mediaCount, Fnv1a(where + "/M"));
  for (std::uint64_t i = 0; i < mediaCount; ++i) {
    // Media names carry the product number and folder code: all courses of one version share
    // the audio folder of an archive source.
    std::string name = Format("M%03d%s%04llu.%s", course.number, folder.c_str(),
                              static_cast<unsigned long long>(i + 1), i % 5 == 4 ? "MP4" : "MP3");
    std::string header = "NUVEL MEDIA " + name + "\r\n";
    files.push_back({name, FileBody(header, sizes[i], Fnv1a(where + "/" + name)), true});
  }

  if (folder == "COM") {
    constexpr std::array<Rgb, 3> kPictures = {
        {{0xE3, 0x5D, 0x6A}, {0x5B, 0xC0, 0xBE}, {0xF7, 0xD0, 0x8A}}};
    for (std::size_t i = 0; i < kPictures.size(); ++i) {
      files.push_back(
          {Format("PICT/P%03zu.PNG", i + 1), FileBody::Text(MakePng(kPictures[i])), false});
    }
  }
  return files;
}

std::string VersionFile(int number, std::string_view code, std::string_view digits,
                        bool contentMark, std::string_view notice) {
  std::string line(kVersionTemplate);
  line.replace(0, 3, Format("%03d", number));
  line.replace(4, 3, code);
  line[12] = digits[0];
  line[14] = digits[1];
  if (!contentMark) line.replace(34, 2, "DL");
  return line + "\r\nPATH: DATA\r\n\r\n" + std::string(notice) + "\r\n";
}

// The description shared by the startup folder's nuvel.ini and the content's NUVEL.INI.
IniText CourseDescription(const Course& course) {
  IniText ini("nuvel.ini");
  ini.Set("course_name", course.Title());
  ini.Set("english_only", course.EnglishOnly() ? "Y" : "N");
  ini.Set("versionName", std::string(course.Multilingual() ? "Multilingual" : "English") +
                             " Edition " + course.Version());
  ini.Set("multilingual", course.Multilingual() ? "Y" : "N");
  ini.Set("fix_level", std::to_string(course.fixLevel));
  ini.Set("fix_version", std::to_string(course.fixVersion));
  ini.Set("language", course.code);
  ini.Set("version", course.Version());
  ini.Set("sr", course.speechRecognition ? "y" : "n");
  ini.Set("babel", course.speechRecognition ? "y" : "n");
  return ini;
}

std::string JoinedLanguages(const Course& course) {
  std::string joined;
  for (const std::string& language : course.languages) {
    joined += (joined.empty() ? "" : " ") + language;
  }
  return joined;
}

// The startup files: install/data/<folder>/ with nuvel.ini, setup.ini, the course picture and
// one folder per support language holding its lesson index (the installer records a language
// only when that index exists).
void WriteStartupFiles(Tree& tree, const Course& course) {
  const std::string base = "install/data/" + course.Folder() + "/";
  IniText description = CourseDescription(course);
  std::string productCode(installer::ProductCode(course.number));
  while (productCode.ends_with(' ')) productCode.pop_back();
  for (int part = 1; part <= course.parts; ++part) {
    description.Set(Format("disc_name_install_%02d", part), productCode + Format(" Disc %d", part));
  }
  tree.Write(base + "nuvel.ini", description.str());
  tree.Write(base + "setup.ini",
             IniText("nuvel").Set("multiLanguages", JoinedLanguages(course)).str());
  tree.Write(base + "course.png",
             MakePng({static_cast<std::uint8_t>(40 + course.number * 13 % 200), 0x70,
                      static_cast<std::uint8_t>(0xC0 - course.fixVersion * 5)}));
  for (const std::string& language : course.languages) {
    tree.Write(base + language + "/LESSONS.C", LessonIndex(course, language, 0));
  }
}

struct ContentResult {
  std::vector<std::string> archives;
};

// The content: Nuvel/content/<folder>/ holds NUVEL.INI, complete.txt and VERSION, and either the
// content subfolders themselves or, for an archived course, nothing more: each subfolder is then
// the archive Nuvel/courses_d/<folder>_<CODE>.EXE whose media members are placeholders, the real
// files lying in the course version's audio folder.
ContentResult WriteContent(Tree& tree, const Course& course, std::uint64_t budget,
                           std::uint64_t unit) {
  ContentResult result;
  const std::string folder = course.Folder();
  const std::string base = "Nuvel/content/" + folder + "/";
  tree.Write(base + "NUVEL.INI", CourseDescription(course).str());
  tree.Write(base + "complete.txt", "X");
  tree.Write(base + "VERSION",
             VersionFile(course.number, course.code, course.digits, true,
                         "Course content of " + folder + " as shipped on this source."));

  const std::vector<std::string> subfolders = course.ContentFolders();
  // The shared folder weighs twice as much as a language folder.
  const std::uint64_t share = budget / (subfolders.size() + 1);
  for (const std::string& sub : subfolders) {
    std::vector<PlannedFile> files =
        PlanContentFolder(course, sub, sub == "COM" ? 2 * share : share, unit);
    if (!course.archived) {
      for (PlannedFile& file : files) tree.Write(base + sub + "/" + file.name, file.body);
      continue;
    }
    std::string archiveName = folder + "_" + sub + ".EXE";
    std::string archivePath = "Nuvel/courses_d/" + archiveName;
    tree.MakeFolder("Nuvel/courses_d");
    ArchiveWriter archive(tree.Path(archivePath));
    for (PlannedFile& file : files) {
      if (!file.media) {
        archive.Add(file.name, std::move(file.body));
        continue;
      }
      archive.Add(file.name, FileBody::Text(std::string(kPlaceholder)));
      tree.Write("Nuvel/" + course.AudioFolder() + "/" + file.name, file.body);
    }
    if (sub == "COM") {
      // A real clip of exactly the placeholder limit: the installer must keep it as it is.
      std::string clip = "NUVEL TICK CLIP\r\n";
      clip.resize(kPlaceholderLimit, '.');
      archive.Add(Format("M%03dCOM_TICK.MP3", course.number), FileBody::Text(clip));
    }
    if (sub == "ENG") {
      // A streamed video the engine ignores: a placeholder that has no real file and stays.
      archive.Add(Format("V%03dENG_INTRO.MOV", course.number),
                  FileBody::Text(std::string(kStreamedPlaceholder)));
    }
    archive.Close();
    tree.CountFile(archivePath);
    result.archives.push_back(archiveName);
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Companion applications and support files

// A bundle: Name.app/Contents/MacOS/Name (a small script standing in for the program),
// Contents/Resources/Name.png and Contents/Resources/Name.rsrc (the version resource; its
// GetInfoString starts with the long version, the fallback the installer reads when a bundle
// has no 'vers' entry).
void WriteBundle(Tree& tree, const Companion& app, bool withIcon) {
  const std::string name(app.name);
  const std::string contents = "install/MacOS/" + name + ".app/Contents/";
  const std::string program = contents + "MacOS/" + name;
  tree.Write(program, "#!/bin/sh\necho '" + name + " " + app.ShortVersion() +
                          ": companion application of the Nuvel courses (sample build)'\n");
  tree.MakeExecutable(program);
  if (withIcon) tree.Write(contents + "Resources/" + name + ".png", MakePng(app.icon));
  tree.Write(contents + "Resources/" + name + ".rsrc",
             IniText("vers")
                 .Set("1", app.ShortVersion())
                 .Set("GetInfoString", app.LongVersion() + " " + name + ", Nuvel Learning")
                 .str());
}

void WriteSpeechEngine(Tree& tree) {
  const std::string base = "install/MacOS/babel/";
  const std::string name(kSpeechEngine.name);
  FileBody library("NUVEL SPEECH ENGINE " + kSpeechEngine.ShortVersion() + "\r\n", 96 * kKiB,
                   Fnv1a(base + name));
  tree.Write(base + name, library);
  tree.Write(base + name + ".rsrc",
             IniText("vers")
                 .Set("1", kSpeechEngine.ShortVersion())
                 .Set("GetInfoString", kSpeechEngine.LongVersion() + " speech recognition engine")
                 .str());
  FileBody model("NUVEL ACOUSTIC MODEL ENG\r\n", 160 * kKiB, Fnv1a(base + "models/ENG.mdl"));
  tree.Write(base + "models/ENG.mdl", model);
}

// Source-wide options, each chosen so that an unattended installation driven by an answer
// file goes through without a Records server or a network.
std::string SetupIni() {
  IniText ini("Nuvel");
  ini.Comment("Options of this installation source. A key left out keeps its built-in default;");
  ini.Comment("askrecords is left out, so the Install Options dialog is shown.");
  ini.Comment("N: no Records-server login; an e-mail login or the Control key passes Install");
  ini.Comment("Options (an answer file holds Control with its control line).");
  ini.Set("force_TCPIP", "N");
  ini.Comment("Y: install the courses in full (content copied from this source) without asking.");
  ini.Set("force_discless", "Y");
  ini.Comment("N: no offer to look for updates on the Internet after the installation.");
  ini.Set("force_show_look_for_updates", "N");
  ini.Comment("N: no message about folder rights after an installation on a network path.");
  ini.Set("force_show_rights_needed", "N");
  ini.Comment("Y: confirm each product in the install dialog before it is installed.");
  ini.Set("force_show_confirm_install_screen", "Y");
  ini.Comment("Days between the backup reminders of the companion applications.");
  ini.Set("backup_days", "14");
  ini.Comment("Y: a multilingual course offers all its languages at once.");
  ini.Set("all", "Y");
  return ini.str();
}

struct RecordsServer {
  int number;
  std::string_view region;
};

// The shipped Records-server list. Servers 7, 8, 18 and 21 are the ones in China (7 is the web
// records server); they have their own download server and a forced course path.
// clang-format off
constexpr std::array<RecordsServer, 30> kRecordsServers = {{
    {1, "Main"}, {2, "Europe West"}, {3, "Europe Central"}, {4, "United Kingdom"},
    {5, "North America East"}, {6, "North America West"}, {7, "Web Asia"}, {8, "China North"},
    {9, "Japan"}, {10, "Korea"}, {11, "Brazil"}, {12, "Mexico"}, {13, "Spain"}, {14, "Italy"},
    {15, "Germany"}, {16, "France"}, {17, "Middle East"}, {18, "China South"}, {19, "Taiwan"},
    {20, "Thailand"}, {21, "China East"}, {22, "Vietnam"}, {23, "Turkey"}, {24, "Russia"},
    {25, "India"}, {26, "Australia"}, {27, "South Africa"}, {28, "Chile"}, {29, "Evaluation"},
    {30, "Training"},
}};
// clang-format on

bool ServerInChina(int number) {
  return number == 7 || number == 8 || number == 18 || number == 21;
}

// versions.ini: the newest version of every companion application, of the Setup and of every
// course, then the Records-server list. Two-sided values are "other platform~this platform".
std::string VersionsIni(const std::vector<Course>& courses) {
  IniText ini("Records");
  ini.Set("setup2_ver", "362.023.008.021~" + std::string(kSetupVersion));
  for (const Companion& app : kCompanions) {
    ini.Set(app.versionsKey, std::string(app.previous) + "~" + app.LongVersion());
  }
  ini.Set("docIni_ver", "005");
  ini.Set(kSpeechEngine.versionsKey,
          std::string(kSpeechEngine.previous) + "~" + kSpeechEngine.LongVersion());
  ini.Set("babel_ver_win", kSpeechEngine.previous);
  ini.Set("rm_ver", "4.9.2");
  ini.Set("launcher_ver", "4.1.8");
  ini.Set("engine_ver", "7.2.0");
  ini.Set("freshen_ver", "2.9.6");
  ini.Set("android_url", "https://apps.nuvel-courses.example/android/nuvel-mobile.apk");

  // Courses on this source, with their lesson builds, then every other course of the table.
  std::vector<int> onSource;
  for (const Course& course : courses) {
    std::string key = Lower(course.Folder());
    std::string build = std::to_string(course.fixVersion);
    ini.Set(key, course.updateForThisPlatform ? build + "~" + build : build);
    for (char lesson = 'a'; lesson <= 'd'; ++lesson) {
      ini.Set(key + "_" + lesson, Format("%d~%d", lesson - 'a' + 1, lesson - 'a' + 1));
    }
    onSource.push_back(course.number);
  }
  for (int number = 1; number <= installer::kMaxProduct; ++number) {
    if (!installer::IsProductANormalCourse(number) ||
        std::find(onSource.begin(), onSource.end(), number) != onSource.end()) {
      continue;
    }
    int build = 1 + number * 7 % 19;
    ini.Set(Format("%03dmul50", number), Format("%d~%d", build, build));
  }

  ini.Set("server_list_ver", "023");
  for (const RecordsServer& server : kRecordsServers) {
    const std::string prefix = Format("server_%03d_", server.number);
    const std::string address = Format("rs%03d.nuvel-records.example", server.number);
    const std::string streaming = Format("stream%03d.nuvel-records.example", server.number);
    const bool china = ServerInChina(server.number);
    ini.Set(prefix + "server_name", "Nuvel Records - " + std::string(server.region));
    ini.Set(prefix + "recordsipaddress", address);
    ini.Set(prefix + "recordsipport", server.number >= 29 ? "8080" : "80");
    ini.Set(prefix + "cgipath", server.number == 7 ? "NuvelWeb.NRS" : "NuvelRS.NRS");
    ini.Set(prefix + "wo_responsepage", server.number == 7 ? "/webi/%s.html" : "none");
    ini.Set(prefix + "streamingaddress", streaming);
    ini.Set(prefix + "downloadaddress",
            std::string(china ? "http://download-cn" : "http://download") +
                ".nuvel-courses.example/softwareupdates/courses2");
    if (china) ini.Set(prefix + "force_download_courses_path", "courses_d");
    ini.Set(prefix + "serverchecksum", records::SettingsChecksum(address, streaming));
  }
  return ini.str();
}

// Products.INF: four digits giving the count, then one 306-byte record per product in the
// layout of the found-product record, as a scan of the product folders would fill it.
std::string ProductsInf(std::vector<Course> courses) {
  std::sort(courses.begin(), courses.end(),
            [](const Course& a, const Course& b) { return a.Folder() < b.Folder(); });
  auto field = [](std::string& record, std::string_view value, std::size_t width) {
    std::string text(value.substr(0, width - 1));
    text.resize(width, '\0');
    record += text;
  };
  auto flag = [](std::string& record, std::uint16_t value) {
    record += static_cast<char>(value & 0xFF);
    record += static_cast<char>(value >> 8);
  };
  std::string out = Format("%04zu", courses.size());
  for (const Course& course : courses) {
    std::string record;
    field(record, course.Title(), 40);
    field(record, course.EnglishOnly() ? "---" : course.code, 15);
    field(record, "V" + course.Version(), 5);
    field(record, course.Folder(), 35);
    field(record,
          std::string(course.Multilingual() ? "Multilingual" : "English") + " Edition " +
              course.Version(),
          100);
    field(record, JoinedLanguages(course), 101);
    flag(record, course.EnglishOnly() ? 1 : 0);
    flag(record, 0);  // installed in this run
    flag(record, 0);  // uses speech recognition (set when installed)
    flag(record, 0);  // reserved
    flag(record, course.Multilingual() ? 1 : 0);
    out += record;
  }
  return out;
}

void WriteDocuments(Tree& tree) {
  tree.Write("doc/Read Me.txt",
             "Nuvel courses: installation notes\r\n"
             "\r\n"
             "Run Setup from this folder to install the courses, the Launcher and the\r\n"
             "Records Manager. Teachers find the class guide in Teacher Guide.html.\r\n");
  tree.Write("doc/Teacher Guide.html",
             "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Teacher Guide</title>"
             "</head>\n<body><h1>Teacher Guide</h1>\n<p>Create a class in the Records Manager, "
             "add students, then assign the courses of this disc.</p></body></html>\n");
}

// ---------------------------------------------------------------------------------------------
// The whole source

// The output folder must be new or empty; with --force an earlier source in it is replaced
// (only the entries a source consists of are removed, never anything else in the folder).
void PrepareOutput(const Options& options) {
  std::error_code error;
  if (fs::exists(options.output, error)) {
    if (!fs::is_directory(options.output, error)) {
      throw GenerateError(options.output.string() + " exists and is not a folder");
    }
    if (!fs::is_empty(options.output, error)) {
      if (!options.force) {
        throw GenerateError(options.output.string() +
                            " is not empty (use --force to replace a source written earlier)");
      }
      for (const char* entry : {"VERSION", "install", "Nuvel", "doc"}) {
        fs::remove_all(options.output / entry, error);
        if (error) throw GenerateError("cannot remove " + (options.output / entry).string());
      }
    }
  }
  fs::create_directories(options.output, error);
  if (error) throw GenerateError("cannot create " + options.output.string());
}

// ---------------------------------------------------------------------------------------------
// The download server's tree

// A zip archive `name` in `folder` holding what `fill` writes into a staging folder beside it
// (removed afterwards).
template <typename Fill>
void WriteStagedArchive(const fs::path& folder, const std::string& name, Fill fill) {
  const fs::path staging = folder / (".staging-" + name);
  std::error_code error;
  fs::remove_all(staging, error);
  Tree stage(staging);
  fill(stage);
  ArchiveWriter archive(folder / name);
  archive.AddTree("", staging);
  archive.Close();
  fs::remove_all(staging, error);
}

// What the download server offers for this source: every course's content as one archive per
// subfolder in courses_d (the archived course's own archives, the other courses' folders
// zipped), the version file, a newer Setup and update checker, and the message file. The source
// gets Nuvel/content_d: per course its NUVEL.INI, complete.txt and VERSION, and the empty
// subfolders that a forced download fills from the server.
void WriteDownloadTree(const Options& options, const std::vector<Course>& courses) {
  const fs::path root = options.downloadTree;
  std::error_code error;
  fs::create_directories(root / "courses_d", error);
  if (error) throw GenerateError("cannot create " + (root / "courses_d").string());
  Tree source(options.output);
  for (const Course& course : courses) {
    const std::string folder = course.Folder();
    const fs::path content = options.output / "Nuvel/content" / folder;
    const std::string small = "Nuvel/content_d/" + folder + "/";
    for (const char* file : {"NUVEL.INI", "complete.txt", "VERSION"}) {
      source.Copy(small + file, content / file);
    }
    for (const std::string& sub : course.ContentFolders()) {
      const std::string archiveName = folder + "_" + sub + ".EXE";
      if (course.archived) {
        fs::copy_file(options.output / "Nuvel/courses_d" / archiveName,
                      root / "courses_d" / archiveName, fs::copy_options::overwrite_existing,
                      error);
        if (error) throw GenerateError("cannot copy " + archiveName + ": " + error.message());
        continue;
      }
      source.MakeFolder(small + sub);
      ArchiveWriter archive(root / "courses_d" / archiveName);
      archive.AddTree("", content / sub);
      archive.Close();
    }
  }
  fs::copy_file(options.output / "install/data/versions.ini", root / "VERSION2M.INI",
                fs::copy_options::overwrite_existing, error);
  if (error) throw GenerateError("cannot write VERSION2M.INI: " + error.message());

  // The next Setup and update checker: one build number above the source's.
  WriteStagedArchive(root, "SETUP.ZIP", [](Tree& stage) {
    const std::string program = "Setup.app/Contents/MacOS/Setup";
    stage.Write(program, "#!/bin/sh\necho 'Setup " + std::string(kSetupVersion) +
                             " and later: the sample download server\'s newer Setup'\n");
    stage.MakeExecutable(program);
  });
  WriteStagedArchive(root, "FRESHEN.ZIP", [](Tree& stage) {
    Companion next = kCompanions[3];
    next.c += 1;
    const std::string program = "Freshen.app/Contents/MacOS/Freshen";
    stage.Write(program, "#!/bin/sh\necho 'Freshen " + next.ShortVersion() +
                             ": update checker of the Nuvel courses (sample build)'\n");
    stage.MakeExecutable(program);
    stage.Write("Freshen.app/Contents/Resources/Freshen.rsrc",
                IniText("vers").Set("1", next.ShortVersion()).str());
  });
  WriteStagedArchive(root, "ENGINE_LUC.ZIP", [&](Tree& stage) {
    stage.Copy("engine.luc", options.engineLuc);
  });
  std::printf("  download tree: %s (%zu course archives)\n", root.c_str(),
              static_cast<std::size_t>(std::distance(fs::directory_iterator(root / "courses_d"),
                                                     fs::directory_iterator())));
}

void Generate(const Options& options) {
  if (options.engineLuc.empty() || !fs::is_regular_file(options.engineLuc)) {
    throw GenerateError("message file not found: '" + options.engineLuc.string() +
                        "' (build the engine_luc target or pass --engine-luc FILE)");
  }
  const std::vector<Course> courses = SampleCourses(options.layout);
  CheckAgainstProductTable(courses);
  PrepareOutput(options);
  Tree tree(options.output);

  tree.Write("VERSION",
             VersionFile(courses.front().number, courses.front().code, courses.front().digits,
                         options.discMarks,
                         "Nuvel courses installation source. Sample content, not for sale."));

  // Companion applications and the speech-recognition technology.
  for (const Companion& app : kCompanions) {
    WriteBundle(tree, app, app.name != options.bundleWithoutIcon);
  }
  WriteSpeechEngine(tree);

  // Source-wide data and support files.
  const std::string picture = MakeJpeg();
  tree.Write("install/data/setup.ini", SetupIni());
  tree.Write("install/data/versions.ini", VersionsIni(courses));
  tree.Write("install/data/Nuvel.jpg", picture);
  tree.Write("install/data/support/Nuvel.jpg", picture);
  tree.Copy("install/data/support/engine.luc", options.engineLuc);
  if (options.productsInf) tree.Write("install/data/Products.INF", ProductsInf(courses));
  WriteDocuments(tree);

  // Products and their content. Files are about 1/400 of the requested size, between 4 KiB and
  // 4 MiB, so a larger source has both larger and more files.
  const std::uint64_t total = options.contentMB * kMiB;
  const std::uint64_t unit = std::clamp<std::uint64_t>(total / 400, 4 * kKiB, 4 * kMiB);
  int weights = 0;
  for (const Course& course : courses) weights += course.weight;

  std::printf("make-sample-source: %s\n", options.output.c_str());
  for (const Course& course : courses) {
    WriteStartupFiles(tree, course);
    ContentResult content = WriteContent(
        tree, course,
        total * static_cast<std::uint64_t>(course.weight) / static_cast<std::uint64_t>(weights),
        unit);
    std::printf("  %s  %-40s %s, %s\n", course.Folder().c_str(), course.Title().c_str(),
                course.EnglishOnly() ? "English only" : JoinedLanguages(course).c_str(),
                course.archived
                    ? Format("%zu archives in Nuvel/courses_d", content.archives.size()).c_str()
                    : "content in folders");
  }
  for (const Companion& app : kCompanions) {
    std::printf("  %s.app %s%s\n", std::string(app.name).c_str(), app.ShortVersion().c_str(),
                app.name == options.bundleWithoutIcon ? " (no icon)" : "");
  }
  std::printf("  %zu products, %s files, %s bytes (content %s bytes)\n", courses.size(),
              WithThousands(tree.files()).c_str(), WithThousands(tree.totalBytes()).c_str(),
              WithThousands(tree.contentBytes()).c_str());
  if (!options.downloadTree.empty()) WriteDownloadTree(options, courses);
}

// Returns 0 on success, else prints the problem and returns 2.
int ParseOptions(int argc, char** argv, Options& options) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  auto usage = [](const std::string& problem) {
    std::fprintf(stderr, "make-sample-source: %s\n%.*s", problem.c_str(),
                 static_cast<int>(kUsage.size()), kUsage.data());
    return 2;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string_view v;
    if (arg == "--products-inf") {
      options.productsInf = true;
    } else if (arg == "--no-disc-marks") {
      options.discMarks = false;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--content-mb") {
      if (!value(v)) return usage("--content-mb needs a number");
      char* end = nullptr;
      std::string text(v);
      unsigned long long mb = std::strtoull(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || text[0] == '-' || mb < 1 || mb > 1024 * 1024) {
        return usage("--content-mb takes a whole number from 1 to 1048576");
      }
      options.contentMB = mb;
    } else if (arg == "--engine-luc") {
      if (!value(v)) return usage("--engine-luc needs a file");
      options.engineLuc = fs::path(v);
    } else if (arg == "--bundle-without-icon") {
      if (!value(v)) return usage("--bundle-without-icon needs a bundle name");
      std::string name(v);
      if (name.ends_with(".app")) name.resize(name.size() - 4);
      bool known = std::any_of(kCompanions.begin(), kCompanions.end(),
                               [&](const Companion& app) { return app.name == name; });
      if (!known) return usage("no companion bundle is named '" + name + "'");
      options.bundleWithoutIcon = name;
    } else if (arg == "--content-as") {
      if (!value(v)) return usage("--content-as needs mixed, folders or archives");
      if (v == "mixed") {
        options.layout = ContentLayout::kMixed;
      } else if (v == "folders") {
        options.layout = ContentLayout::kFolders;
      } else if (v == "archives") {
        options.layout = ContentLayout::kArchives;
      } else {
        return usage("--content-as takes mixed, folders or archives");
      }
    } else if (arg == "--download-tree") {
      if (!value(v)) return usage("--download-tree needs a folder");
      options.downloadTree = fs::path(v);
    } else if (arg == "--help" || arg == "-h") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      std::exit(0);
    } else if (arg.starts_with("-")) {
      return usage("unknown option " + std::string(arg));
    } else if (options.output.empty()) {
      options.output = fs::path(arg);
    } else {
      return usage("only one output folder can be given");
    }
  }
  if (options.output.empty()) return usage("no output folder given");
  return 0;
}

}  // namespace
}  // namespace nuvel::tools

int main(int argc, char** argv) {
  using namespace nuvel::tools;
  // Archive dates are converted to DOS dates in local time; UTC keeps them the same everywhere.
  setenv("TZ", "UTC0", 1);
  tzset();
  Options options;
  if (int status = ParseOptions(argc, argv, options); status != 0) return status;
  try {
    Generate(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-sample-source: %s\n", e.what());
    return 1;
  }
  return 0;
}
