// What every fuzz target shares: a private scratch folder for the files a target writes, and a
// way to report a broken property so that the fuzzer stops on it as it stops on a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace nuvel::fuzz {

/// A fresh folder under TMPDIR for the whole fuzzing run (removed by the caller's script).
const std::string& ScratchFolder();

/// Removes everything inside `folder` (links are removed, never followed).
void EmptyFolder(const std::string& folder);

/// Writes `data` to `path` (replacing it); aborts when it cannot.
void WriteWholeFile(const std::string& path, std::string_view data);
/// The whole file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

/// Reports a broken property and aborts, which the fuzzer records as a crash with its input.
[[noreturn]] inline void Broken(const std::string& what) {
  std::fprintf(stderr, "property broken: %s\n", what.c_str());
  std::abort();
}

}  // namespace nuvel::fuzz
