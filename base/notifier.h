// What the base layer has to tell the user. Base decides that something must be said (a file
// it cannot write, a folder that needs an administrator, a clock that is wrong) and says it
// through the notifier; the layer that owns the user interface installs one at start-up and
// decides how it is shown (the ui layer does so when it sets up a back end). Until a notifier
// is installed, notices go nowhere: the log lines that go with them are written by base itself.
#pragma once

#include <string_view>

namespace nuvel::base {

class Notifier {
 public:
  virtual ~Notifier() = default;
  /// A message the user acknowledges with one button. `message` and `button` are texts or
  /// message keys ("MSG_Button_OK"); `id` is the prompt id ("": derived from the message).
  virtual void Tell(std::string_view message, std::string_view button, std::string_view id) = 0;
  /// A step that takes a while: BeginProgress shows its title and first text, Progress replaces
  /// the text, EndProgress takes the display away.
  virtual void BeginProgress(std::string_view title, std::string_view text) = 0;
  virtual void Progress(std::string_view text) = 0;
  virtual void EndProgress() = 0;
};

/// Makes `notifier` (not owned; it must outlive its use) the receiver of every notice;
/// nullptr drops them.
void SetNotifier(Notifier* notifier);

/// Forward to the installed notifier; nothing happens without one.
void Tell(std::string_view message, std::string_view button, std::string_view id = "");
void BeginProgress(std::string_view title, std::string_view text);
void Progress(std::string_view text);
void EndProgress();

}  // namespace nuvel::base
