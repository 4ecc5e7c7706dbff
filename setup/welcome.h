// The Welcome dialog, where every run starts and to which the user returns after cancelling.
//
// Items (dialog "welcome", resource 3000): 1 Install (default), 2 Quit (cancel), 4 Uninstall,
// 5 the welcome text, 6 the help text, 7 the picture (the launcher picture's path), 8 the
// version text, 9 hidden, 10 Help. Help shows the help text in a prompt and returns to the
// dialog.
#pragma once

#include <string>

namespace nuvel::setup {

inline constexpr int kWelcomeInstall = 1;
inline constexpr int kWelcomeQuit = 2;
inline constexpr int kWelcomeUninstall = 7;

/// Shows the Welcome dialog until Install (1), Quit or the close box (2) or Uninstall (7).
/// `picture` is the launcher picture's path ("" for none).
int Prompt_Welcome(const std::string& picture);

}  // namespace nuvel::setup
