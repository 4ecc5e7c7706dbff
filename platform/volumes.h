// Volumes: the mounted file systems, which one a path lies on, how much room it has, and the
// eject of a removable disc.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace nuvel::platform {

/// True when `path` lies on a network file system (NFS, SMB/CIFS, SMB2, AFS, Ceph, sshfs), or
/// under one of the colon-separated prefixes of NUVEL_NETWORK_PATHS (a test seam). `fs_type`
/// receives the file-system magic number (0 for a seam match). An error when the path's volume
/// cannot be examined.
std::error_code IsNetworkPath(const std::string& path, bool& networked, unsigned long& fs_type);

/// One mounted volume.
struct Volume {
  int number = 0;          // above 0; stable while the volume stays mounted
  std::string mountPoint;  // absolute, without a trailing "/" (except the root "/")
  bool readOnly = false;   // mounted read-only: the "locked" volume of a disc
  bool removable = false;  // on a removable drive (a USB stick): its block device says so
};

/// One line of /proc/self/mountinfo: "id parent major:minor root mount options [tags] - type
/// source super-options".
struct MountEntry {
  int id = 0;
  std::string mount;      // octal escapes undone ("\040" is a space)
  bool readOnly = false;  // "ro" in the mount options or in the super-block options
  std::string type;       // "ext4", "fuse.sshfs"
  std::string device;     // "major:minor"
};

/// The entries of a mountinfo text in order; a line without the " - " separator or with fewer
/// than six fields before it is skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

/// The mounted volumes in mount order, from /proc/self/mountinfo (the number is the mount's
/// id; a volume is removable when /sys/dev/block/<major:minor>/removable, or its whole disk's
/// for a partition, holds 1). When NUVEL_VOLUMES is set (a test seam: "path:ro,path:rw,...";
/// an entry without ":ro" or ":rw" is read-write; ":usb" after it marks a removable drive, as in
/// "path:rw:usb") its entries replace the list, numbered from 1 in the order given.
/// An error when the mount table cannot be read.
std::error_code MountedVolumes(std::vector<Volume>& volumes);

/// True when `path` lies on a removable drive.
bool IsOnRemovableDrive(const std::string& path);

/// The volume of MountedVolumes() whose mount point is the longest prefix of the absolute
/// `path` (whole components only). False when no volume holds it.
bool VolumeOf(const std::string& path, Volume& volume);

/// Bytes available to this user on the file system of `path`, or of its nearest existing
/// ancestor when the path does not exist yet (a folder about to be created lies on its parent's
/// volume). 64-bit: today's disks hold more than 4 GB. An error for an empty or relative path,
/// or when no ancestor can be examined.
std::error_code FreeSpace(const std::string& path, std::uint64_t& bytes);

/// Ejects the medium mounted at `mountPoint` by running "eject MOUNTPOINT" (found in PATH; the
/// mount point is one argument, no shell is involved) and waiting for it while the user
/// interface stays live. An error when the program is missing (ENOENT), cannot be started, or
/// ends with a non-zero status. Volumes of the NUVEL_VOLUMES seam
/// are folders, not discs: nothing is run for them and the result is
/// std::errc::operation_not_supported.
std::error_code EjectVolume(const std::string& mountPoint);

}  // namespace nuvel::platform
