#include "base/notifier.h"

namespace nuvel::base {
namespace {

// Not run state: the user interface installs it with its back end, before the run starts.
Notifier*& Installed() {
  static Notifier* notifier = nullptr;
  return notifier;
}

}  // namespace

void SetNotifier(Notifier* notifier) { Installed() = notifier; }

void Tell(std::string_view message, std::string_view button, std::string_view id) {
  if (Notifier* notifier = Installed()) notifier->Tell(message, button, id);
}

void BeginProgress(std::string_view title, std::string_view text) {
  if (Notifier* notifier = Installed()) notifier->BeginProgress(title, text);
}

void Progress(std::string_view text) {
  if (Notifier* notifier = Installed()) notifier->Progress(text);
}

void EndProgress() {
  if (Notifier* notifier = Installed()) notifier->EndProgress();
}

}  // namespace nuvel::base
