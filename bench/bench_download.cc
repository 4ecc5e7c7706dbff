// The timed side of the download benchmark of bench/run.sh: one file transfer through the
// installer's own transport, as a course download makes it (status box, event pump, ".tmp"
// renamed into place), so that the script can time it against curl on the same server.
//
//   bench_download BASE_URL NAME DIR     CFDownloadFile(DIR/, NAME, BASE_URL)
//
// Prints "seconds=<elapsed> maxrss_kb=<peak resident memory>"; exits with the transfer's result.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "net/transport.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_download BASE_URL NAME DIR\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const int result = nuvel::net::CFDownloadFile(std::string(argv[3]) + "/", argv[2], argv[1]);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds=%.3f maxrss_kb=%ld\n", seconds, usage.ru_maxrss);
  return result == 0 ? 0 : 1;
}
