// Volumes: which file system a path lies on, and how much room it has.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace nuvel::platform {

/// True when `path` lies on a network file system (NFS, SMB/CIFS, SMB2, AFS, Ceph, sshfs), or
/// under one of the colon-separated prefixes of NUVEL_NETWORK_PATHS (a test seam). `fs_type`
/// receives the file-system magic number (0 for a seam match). An error when the path's volume
/// cannot be examined.
std::error_code IsNetworkPath(const std::string& path, bool& networked, unsigned long& fs_type);

}  // namespace nuvel::platform
