// This Setup's identity: the version text (zero-padded so that text comparison orders
// versions) and the build tag logged beside it.
#pragma once

namespace nuvel::setup {

inline constexpr const char* SETUP_VERSION = "362.023.008.023";
inline constexpr const char* Version_Num = SETUP_VERSION;
inline constexpr const char* kBuildTag = "36B1";
/// The Setup's version number as installed products record it (the first field).
inline constexpr int kSetupFixLevel = 362;

/// The download server's base address, and the regional server used for the Mandarin
/// interface languages.
inline constexpr const char* kDefaultDownloadAddress =
    "http://download.nuvel-courses.example/softwareupdates/courses2";
inline constexpr const char* kRegionalDownloadAddress =
    "http://download-asia.nuvel-courses.example/softwareupdates/courses2";

}  // namespace nuvel::setup
