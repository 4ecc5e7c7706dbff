// One reset of the run state of every module, so that a run (and every test) starts from the
// values a fresh process has.
//
// Each module that keeps run state registers the function that restores it, once, on the first
// access of its state accessor:
//
//   FlowState& Flow() {
//     static FlowState state;
//     [[maybe_unused]] static const bool registered =
//         platform::RegisterRunState("setup::Flow", [] { state.reset(); });
//     return state;
//   }
//
// Registering on first access (rather than at static initialisation) means that a module is
// registered before anything can change its state, and that a module whose code is not linked
// into a program (nothing of it is used) costs nothing.
//
// Run state is what a run builds up as it goes: flags, paths, caches, counters, latches, the
// position of the flow, and faults injected into the system-call table. What is set up before
// the run starts is not, since a reset at start-up must not undo it: the dialog back end with its
// event pump, notices and transcript, a Control key held for the whole run, and the fakes a test
// puts around its runs (the clock, the privileged helper). Nor is what belongs to the process:
// the locks it holds, the children it started, the network library's handles. The registry
// lives in the lowest layer so that the platform layer's own call table can join it.
#pragma once

#include <string>
#include <vector>

namespace nuvel::platform {

/// Adds `reset` under `name`; ResetRunState() calls the registered functions in the order they
/// were registered. Returns true, so that a function-local static can hold the registration.
bool RegisterRunState(const char* name, void (*reset)());

/// Restores the run state of every registered module. A reset that touches a module for the
/// first time registers it on the way; that module's state is fresh already.
void ResetRunState();

/// The names of the registered modules, in registration order.
std::vector<std::string> RegisteredRunStates();

}  // namespace nuvel::platform
