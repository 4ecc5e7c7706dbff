#include "platform/events.h"

#include <chrono>
#include <thread>

namespace nuvel::platform {
namespace {
std::function<void()>& Pump() {
  static std::function<void()> pump;
  return pump;
}
}  // namespace

void SetEventPump(std::function<void()> pump) { Pump() = std::move(pump); }

void PumpEvents() {
  if (Pump()) Pump()();
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace nuvel::platform
