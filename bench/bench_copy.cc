// The timed side of bench/run.sh: generates test trees, and runs one folder copy or one archive
// expansion through the installer's own code so that the script can time it against cp and
// unzip on the same data.
//
//   bench_copy make-tree DIR FILES TOTAL_BYTES [SEED] [TEXT_PERCENT]
//       files in folders of 100, sizes spread between half and one and a half of the mean; the
//       first TEXT_PERCENT (default 50) of each file is text-like, the rest random bytes
//   bench_copy copy SRC DST                             XcopyFilesWithScrollBar(SRC, DST)
//   bench_copy expand ZIP DEST                          ExpandFile(DEST, ZIP), keeping ZIP
//
// Each run prints "seconds=<elapsed> maxrss_kb=<peak resident memory>" (the peak from
// getrusage, for machines without /usr/bin/time).
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "installer/copy_engine.h"
#include "installer/expand.h"

namespace {

namespace fs = std::filesystem;

// xorshift64*: fast, reproducible bytes that do not compress.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ull;
  }
};

constexpr const char* kWords[] = {"lesson ",  "audio ",  "picture ", "speaking ", "reading ",
                                  "grammar ", "review ", "unit ",    "course ",   "answer "};

void FillFile(std::ofstream& out, std::uint64_t size, int text_percent, Random& random) {
  std::vector<char> block(64 * 1024);
  std::uint64_t text_bytes = size * static_cast<std::uint64_t>(text_percent) / 100;
  std::uint64_t written = 0;
  while (written < size) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - written));
    if (written < text_bytes) {
      std::size_t i = 0;
      while (i < n) {
        const char* word = kWords[random.Next() % 10];
        while (*word && i < n) block[i++] = *word++;
      }
    } else {
      for (std::size_t i = 0; i < n; i += 8) {
        std::uint64_t value = random.Next();
        for (std::size_t k = 0; k < 8 && i + k < n; ++k)
          block[i + k] = static_cast<char>(value >> (8 * k));
      }
    }
    out.write(block.data(), static_cast<std::streamsize>(n));
    written += n;
  }
}

int MakeTree(const std::string& dir, long files, std::uint64_t total, std::uint64_t seed,
             int text_percent) {
  Random random{seed | 1};
  std::uint64_t mean = total / static_cast<std::uint64_t>(files);
  for (long i = 0; i < files; ++i) {
    fs::path folder = fs::path(dir) / ("d" + std::to_string(i / 100));
    fs::create_directories(folder);
    std::uint64_t size = mean / 2 + (mean > 0 ? random.Next() % (mean + 1) : 0);
    std::ofstream out(folder / ("f" + std::to_string(i) + ".bin"), std::ios::binary);
    FillFile(out, size, text_percent, random);
    if (!out) {
      std::fprintf(stderr, "cannot write in %s\n", folder.c_str());
      return 1;
    }
  }
  return 0;
}

void Report(std::chrono::steady_clock::time_point start) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds=%.3f maxrss_kb=%ld\n", seconds, usage.ru_maxrss);
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_copy make-tree DIR FILES TOTAL_BYTES [SEED] [TEXT_PERCENT]\n"
               "       bench_copy copy SRC DST\n"
               "       bench_copy expand ZIP DEST\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::string command = argv[1];
  if (command == "make-tree" && argc >= 5) {
    std::uint64_t seed = argc >= 6 ? std::strtoull(argv[5], nullptr, 10) : 1;
    int text_percent = argc >= 7 ? std::atoi(argv[6]) : 50;
    return MakeTree(argv[2], std::atol(argv[3]), std::strtoull(argv[4], nullptr, 10), seed,
                    text_percent);
  }
  auto start = std::chrono::steady_clock::now();
  int result;
  if (command == "copy") {
    result = nuvel::installer::XcopyFilesWithScrollBar(argv[2], argv[3], 0, 0, "");
  } else if (command == "expand") {
    // An archive on the installation disc is kept: the script expands the same one again.
    nuvel::base::Run().The_CD_ROM = fs::path(argv[2]).parent_path().string();
    result = nuvel::installer::ExpandFile(argv[3], argv[2], 0);
  } else {
    return Usage();
  }
  Report(start);
  if (result != 0) std::fprintf(stderr, "%s failed: %d\n", command.c_str(), result);
  return result == 0 ? 0 : 1;
}
