// Fetching an archive from the download server and expanding it: DownloadFile puts it in a
// folder through the file transfer (net/transport.h), DownloadCourse also expands it
// (installer/expand.h) and deletes it.
//
// Decisions of this implementation:
//  - An archive is expanded only when it opens as a complete zip. A download that fails, or an
//    archive that is not a complete zip (cut short, an error page), is deleted and reported
//    ("ERROR: DownloadCourse ...", and the download error message) and nothing is expanded, so
//    an installed course is never half-replaced.
//  - The server host names are ours: names under a reserved example domain; records.ini's
//    `downloadaddress` points anywhere.
#pragma once

#include <string>

namespace nuvel::net {

/// The download server's base address, and the regional server used for the Mandarin
/// interface languages.
inline constexpr const char* kDefaultDownloadAddress =
    "http://download.nuvel-courses.example/softwareupdates/courses2";
inline constexpr const char* kRegionalDownloadAddress =
    "http://download-asia.nuvel-courses.example/softwareupdates/courses2";
/// The old course page of the maker's second domain; an address equal to it (any case) means
/// the default download server.
inline constexpr const char* kOldCoursePageAddress = "http://www.nuvel-learning.example/courses";

/// Downloads `urlBase`/`fileName` into `localDir` (which ends with "/"). An empty `urlBase`, or
/// the old course page, becomes the default address. `fileName` receives the name the file was
/// stored under (upper-cased unless it contains "_zp" or the address contains "elective_d").
/// Returns CFDownloadFile's result: 0 success, 1 stopped or failed with a message, -1 failure.
int DownloadFile(const std::string& localDir, std::string& fileName, std::string& urlBase);

/// Downloads the archive `fileName` from `urlBase` into the local system folder and expands it
/// into `destDir`; the archive is deleted afterwards. 0 success, -1 failure (nothing expanded).
int DownloadCourse(const std::string& destDir, const std::string& fileName,
                   const std::string& urlBase);

}  // namespace nuvel::net
