// Compressed Records-server replies: any bytes after "COMP" either inflate within the stated
// size (and the 64 MiB limit) or fail with -3, never read past the reply; and any text the
// server compresses comes back exactly.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "records/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nuvel;
  FuzzedDataProvider input(data, size);
  const bool well_formed = input.ConsumeBool();
  std::string body = input.ConsumeRemainingBytesAsString();

  if (!well_formed) {
    std::string reply = "COMP" + body;
    int stated = 0;
    const bool has_length = records::ReadDigits(reply, 14, 8, stated);
    const int result = records::DecompressReply(reply);
    if (result != 0 && result != -3) fuzz::Broken("a result other than 0 or -3");
    if (result == 0 && (!has_length || stated < 0 ||
                        reply.size() > static_cast<std::size_t>(stated) + 1024 ||
                        reply.size() > records::kMaxUncompressedReply + 1024)) {
      fuzz::Broken("an inflated reply larger than its stated size allows");
    }
    return 0;
  }

  uLongf packed_size = compressBound(body.size());
  std::string packed(packed_size, '\0');
  if (compress(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
               reinterpret_cast<const Bytef*>(body.data()), body.size()) != Z_OK) {
    return 0;
  }
  packed.resize(packed_size);
  char head[32];
  std::snprintf(head, sizeof head, "COMP %08lu %08zu", static_cast<unsigned long>(packed_size),
                body.size());
  std::string reply = head + packed;
  if (records::DecompressReply(reply) != 0 || reply != body) {
    fuzz::Broken("a well-formed compressed reply did not give back its text");
  }
  return 0;
}
