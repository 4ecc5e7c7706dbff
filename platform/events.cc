#include "platform/events.h"

#include <chrono>
#include <thread>

#include "platform/process.h"

namespace nuvel::platform {
namespace {
// Not run state: the back end installs its pump before the run starts (ui::SetBackend).
std::function<void()>& Pump() {
  static std::function<void()> pump;
  return pump;
}
}  // namespace

void SetEventPump(std::function<void()> pump) { Pump() = std::move(pump); }

void PumpEvents() {
  if (Pump()) Pump()();
  // Every turn of the event loop delivers a pending quit (SIGTERM, SIGINT, SIGHUP).
  ServiceQuitSignal();
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace nuvel::platform
