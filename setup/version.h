// This Setup's identity: the version text (zero-padded so that text comparison orders
// versions) and the build tag logged beside it.
#pragma once

namespace nuvel::setup {

inline constexpr const char* SETUP_VERSION = "362.023.008.023";
inline constexpr const char* Version_Num = SETUP_VERSION;
inline constexpr const char* kBuildTag = "36B1";
/// The Setup's version number as installed products record it (the first field).
inline constexpr int kSetupFixLevel = 362;

}  // namespace nuvel::setup
