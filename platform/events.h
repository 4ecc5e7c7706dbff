// The event-loop hook. The core never blocks without letting the user interface run: waits
// call PumpEvents() between short sleeps, and the active UI back end installs the pump.
#pragma once

#include <functional>

namespace nuvel::platform {

/// Installs the function that runs one turn of the UI's event loop (none: a no-op).
void SetEventPump(std::function<void()> pump);

/// Runs one turn of the event loop.
void PumpEvents();

/// Sleeps the calling thread for `milliseconds`.
void SleepMilliseconds(int milliseconds);

}  // namespace nuvel::platform
