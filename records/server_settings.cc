#include "records/server_settings.h"

#include "platform/run_reset.h"

namespace nuvel::records {

void ServerSettings::reset() { *this = ServerSettings{}; }

ServerSettings& RS() {
  static ServerSettings state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::ServerSettings", [] { state.reset(); });
  return state;
}

}  // namespace nuvel::records
