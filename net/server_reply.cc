#include "net/server_reply.h"

#include "base/ascii.h"
#include "platform/run_reset.h"

namespace nuvel::net {
namespace {
std::string& SavedDate() {
  static std::string saved;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("net::server reply date", [] { saved.clear(); });
  return saved;
}
}  // namespace

void UpdateRSTime(std::string_view header_text) { SavedDate() = std::string(header_text); }

const std::string& SavedServerDateHeader() { return SavedDate(); }

void ResetServerReply() { SavedDate().clear(); }

int CallToServerWasBad(std::string_view reply) {
  std::size_t start = 0;
  while (start < reply.size() && start < 10 && (reply[start] == '\r' || reply[start] == '\n'))
    ++start;
  std::string head(reply.substr(start, 100));
  head = base::UpperAscii(head);
  // The longer marks of the list ("<HTML", "<TITLE>", "<!DOCTYPE HTML", "<UNKNOWN COMMAND>")
  // all contain one of these.
  for (const char* mark :
       {"HTML", "TITLE", "BODY", "BAD SESSION ID", "UNKNOWN COMMAND", "404 NOT FOUND",
        "CANNOT BE FOUND", "PAGE NOT FOUND", "URL WAS NOT FOUND", "NO INSTANCES AVAILABLE"}) {
    if (head.find(mark) != std::string::npos) return 1;
  }
  return 0;
}

}  // namespace nuvel::net
