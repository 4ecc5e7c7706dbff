#include "base/run_state.h"

namespace nuvel::base {

RunState& Run() {
  static RunState state;
  return state;
}

}  // namespace nuvel::base
