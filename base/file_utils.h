// Path forms and small file-system helpers shared by the settings, log and path modules.
//
// Paths arrive in three forms: POSIX ("/" separators, the working form), HFS (":" separators,
// met in older settings files and on discs) and DOS ("\" separators, written by the Windows
// sibling of this system into shared settings files). On Linux the HFS volume name has no
// meaning: "Volume:folder:file" becomes "/folder/file".
#pragma once

#include <string>

namespace nuvel::base {

/// True when the path contains a ":" (HFS form).
bool IsMacHFSFileFormat(const std::string& path);

/// "Volume:a:b:" -> "/a/b/"; a path without ":" is returned unchanged.
std::string HFSToPOSIX(const std::string& path);

/// When the folder of `path` holds an entry whose name equals the path's file name without
/// regard to case, returns that entry's full path (the exact spelling); "" otherwise.
std::string FindCaseCorrectedPath(const std::string& path);

/// `path` when it exists, else its case-corrected form, else "".
std::string ExistingPathAnyCase(const std::string& path);

}  // namespace nuvel::base
