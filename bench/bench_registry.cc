// The copy registry against a balanced-tree set doing the same work: a content copy of 20,000
// files checks each file's key once before copying it and once more when a part is copied
// again, in the file system's (unsorted) order, with the registry's 8000-key limit on both.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "installer/copy_engine.h"

namespace {

constexpr int kFiles = 20000;

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out;
    char key[160];
    for (int i = 0; i < kFiles; ++i) {
      std::snprintf(key, sizeof key,
                    "/media/disc/Nuvel/content/001ENG50/COM/d%03d/f%05d.mp3<>"
                    "/opt/Nuvel/content/001ENG50/COM/d%03d/f%05d.mp3",
                    i / 100, i, i / 100, i);
      out.emplace_back(key);
    }
    std::shuffle(out.begin(), out.end(), std::mt19937{42});
    return out;
  }();
  return keys;
}

void BM_CopyRegistry(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    nuvel::installer::clearAllCopyPath();
    int found = 0;
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::string& key : keys) found += nuvel::installer::isFileCopied(key);
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * 2 * kFiles);
}
BENCHMARK(BM_CopyRegistry)->Unit(benchmark::kMillisecond);

void BM_ReferenceSet(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    std::set<std::string> registry;
    int found = 0;
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::string& key : keys) {
        std::string upper = nuvel::base::UpperAscii(key);
        if (registry.count(upper)) {
          ++found;
        } else if (registry.size() < nuvel::installer::kMaxCopyRegistry) {
          registry.insert(std::move(upper));
        }
      }
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * 2 * kFiles);
}
BENCHMARK(BM_ReferenceSet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
