#include "platform/run_reset.h"

namespace nuvel::platform {
namespace {

struct Registration {
  const char* name;
  void (*reset)();
};

// A function-local static: modules register from their own function-local statics, whose
// initialisation order across files is not fixed.
std::vector<Registration>& Registrations() {
  static std::vector<Registration> registrations;
  return registrations;
}

}  // namespace

bool RegisterRunState(const char* name, void (*reset)()) {
  Registrations().push_back({name, reset});
  return true;
}

void ResetRunState() {
  // By index: a reset may register a module it touches for the first time, which appends.
  auto& registrations = Registrations();
  for (std::size_t i = 0; i < registrations.size(); ++i) {
    void (*reset)() = registrations[i].reset;
    reset();
  }
}

std::vector<std::string> RegisteredRunStates() {
  std::vector<std::string> names;
  for (const Registration& registration : Registrations()) names.emplace_back(registration.name);
  return names;
}

}  // namespace nuvel::platform
