#include "base/run_state.h"

#include "platform/run_reset.h"

namespace nuvel::base {

RunState& Run() {
  static RunState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("base::Run", [] { state.reset(); });
  return state;
}

}  // namespace nuvel::base
