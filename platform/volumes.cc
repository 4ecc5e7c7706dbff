#include "platform/volumes.h"

#include <sys/statvfs.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

#include "platform/path_text.h"
#include "platform/process.h"
#include "platform/syscalls.h"

namespace nuvel::platform {
namespace {

// File-system magic numbers of network file systems (linux/magic.h and the FUSE/CIFS sources).
constexpr unsigned long kNetworkTypes[] = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x5346414F,  // AFS (OpenAFS)
    0x6B414653,  // AFS (kAFS)
    0x00C36400,  // Ceph
};
constexpr unsigned long kFuse = 0x65735546;

constexpr const char* kVolumeSeam = "NUVEL_VOLUMES";

std::error_code LastError() { return {errno, std::generic_category()}; }

bool UnderPrefix(const std::string& path, std::string_view prefix) {
  return IsWithin(path, WithoutTrailingSlash(std::string(prefix)));
}

bool InNetworkSeam(const std::string& path) {
  const char* seam = std::getenv("NUVEL_NETWORK_PATHS");
  if (!seam) return false;
  std::string_view rest = seam;
  while (!rest.empty()) {
    auto colon = rest.find(':');
    if (UnderPrefix(path, rest.substr(0, colon))) return true;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return false;
}

// Undoes the octal escapes (\040 for a space) of /proc/self/mountinfo fields.
std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      int value = 0;
      bool octal = true;
      for (std::size_t k = 1; k <= 3; ++k) {
        char c = field[i + k];
        if (c < '0' || c > '7') octal = false;
        value = value * 8 + (c - '0');
      }
      if (octal) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool HasOption(std::string_view options, std::string_view option) {
  while (!options.empty()) {
    auto comma = options.find(',');
    if (options.substr(0, comma) == option) return true;
    if (comma == std::string_view::npos) break;
    options.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    MountEntry entry;
    std::string parent, dev, root, mount, options;
    if (!(fields >> entry.id >> parent >> dev >> root >> mount >> options)) continue;
    entry.device = dev;
    auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string source, super_options;
    tail >> entry.type >> source >> super_options;
    entry.mount = Unescape(mount);
    entry.readOnly = HasOption(options, "ro") || HasOption(super_options, "ro");
    entries.push_back(std::move(entry));
  }
  return entries;
}

namespace {

// A block device is removable when the kernel says so for it or, for a partition, for the disk
// that holds it (/sys/dev/block/M:m/../removable).
bool IsRemovableDevice(const std::string& device) {
  if (device.empty() || device.starts_with("0:")) return false;  // no block device behind it
  const std::string base = "/sys/dev/block/" + device;
  for (const char* file : {"/removable", "/../removable"}) {
    std::ifstream in(base + file);
    char flag = 0;
    if (in >> flag) return flag == '1';
  }
  return false;
}

std::error_code ReadMountTable(std::vector<MountEntry>& entries) {
  entries.clear();
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return LastError();
  std::ostringstream text;
  text << in.rdbuf();
  entries = ParseMountInfo(text.str());
  return {};
}

// sshfs is a FUSE file system; /proc/self/mountinfo names the FUSE subtype of the mount that
// holds the path (the longest mount point that is a prefix of it).
bool IsSshfs(const std::string& path) {
  std::vector<MountEntry> entries;
  if (ReadMountTable(entries)) return false;
  std::string best_mount, best_type;
  for (const MountEntry& entry : entries) {
    if (UnderPrefix(path, entry.mount) && entry.mount.size() >= best_mount.size()) {
      best_mount = entry.mount;
      best_type = entry.type;
    }
  }
  return best_type == "fuse.sshfs";
}

// The NUVEL_VOLUMES seam: "path:ro,path:rw,...".
std::vector<Volume> SeamVolumes(std::string_view seam) {
  std::vector<Volume> volumes;
  while (!seam.empty()) {
    auto comma = seam.find(',');
    std::string_view entry = seam.substr(0, comma);
    Volume volume;
    auto colon = entry.rfind(':');
    if (colon != std::string_view::npos && entry.substr(colon + 1) == "usb") {
      volume.removable = true;
      entry = entry.substr(0, colon);
      colon = entry.rfind(':');
    }
    std::string_view flag = colon == std::string_view::npos ? "" : entry.substr(colon + 1);
    if (flag == "ro" || flag == "rw") {
      volume.readOnly = flag == "ro";
      entry = entry.substr(0, colon);
    }
    if (!entry.empty()) {
      volume.mountPoint = WithoutTrailingSlash(std::string(entry));
      volume.number = static_cast<int>(volumes.size()) + 1;
      volumes.push_back(std::move(volume));
    }
    if (comma == std::string_view::npos) break;
    seam.remove_prefix(comma + 1);
  }
  return volumes;
}

// The path itself when it exists, else its nearest existing ancestor; the volume of a folder
// about to be created is its parent's.
template <typename Probe>
std::error_code ProbeNearestExisting(const std::string& path, Probe probe) {
  std::string candidate = WithoutTrailingSlash(path);
  while (probe(candidate) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return LastError();
    if (candidate == "/") return LastError();
    candidate = WithoutFileName(candidate);
    if (candidate.empty()) candidate = "/";
  }
  return {};
}

}  // namespace

std::error_code IsNetworkPath(const std::string& path, bool& networked, unsigned long& fs_type) {
  networked = false;
  fs_type = 0;
  if (InNetworkSeam(path)) {
    networked = true;
    return {};
  }
  std::string probed = path.empty() ? "/" : path;
  struct statfs st;
  std::error_code ec = ProbeNearestExisting(probed, [&](const std::string& candidate) {
    probed = candidate;
    return syscalls().statfs(candidate.c_str(), &st);
  });
  if (ec) return ec;
  fs_type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFUL;
  for (unsigned long type : kNetworkTypes) {
    if (fs_type == type) networked = true;
  }
  if (fs_type == kFuse && IsSshfs(probed)) networked = true;
  return {};
}

std::error_code MountedVolumes(std::vector<Volume>& volumes) {
  volumes.clear();
  if (const char* seam = std::getenv(kVolumeSeam)) {
    volumes = SeamVolumes(seam);
    return {};
  }
  std::vector<MountEntry> entries;
  if (std::error_code ec = ReadMountTable(entries)) return ec;
  for (MountEntry& entry : entries) {
    volumes.push_back({entry.id, WithoutTrailingSlash(std::move(entry.mount)), entry.readOnly,
                       IsRemovableDevice(entry.device)});
  }
  return {};
}

bool IsOnRemovableDrive(const std::string& path) {
  Volume volume;
  return VolumeOf(path, volume) && volume.removable;
}

bool VolumeOf(const std::string& path, Volume& volume) {
  std::vector<Volume> volumes;
  if (path.empty() || path[0] != '/' || MountedVolumes(volumes)) return false;
  const Volume* best = nullptr;
  for (const Volume& candidate : volumes) {
    // A later mount on the same point hides the earlier one.
    if (UnderPrefix(path, candidate.mountPoint) &&
        (!best || candidate.mountPoint.size() >= best->mountPoint.size())) {
      best = &candidate;
    }
  }
  if (!best) return false;
  volume = *best;
  return true;
}

std::error_code FreeSpace(const std::string& path, std::uint64_t& bytes) {
  bytes = 0;
  if (path.empty() || path[0] != '/') return std::make_error_code(std::errc::invalid_argument);
  struct statvfs st;
  std::error_code ec = ProbeNearestExisting(path, [&](const std::string& candidate) {
    return syscalls().statvfs(candidate.c_str(), &st);
  });
  if (ec) return ec;
  const std::uint64_t blocks = st.f_bavail;
  const std::uint64_t block_size = st.f_frsize ? st.f_frsize : st.f_bsize;
  // Saturate rather than wrap on a file system too large for 64 bits of bytes.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  bytes = block_size != 0 && blocks > kMax / block_size ? kMax : blocks * block_size;
  return {};
}

std::error_code EjectVolume(const std::string& mountPoint) {
  if (std::getenv(kVolumeSeam)) return std::make_error_code(std::errc::operation_not_supported);
  if (mountPoint.empty()) return std::make_error_code(std::errc::invalid_argument);
  int status = 0;
  std::string output;  // kept off the terminal the user interface may be drawing on
  if (std::error_code ec = RunAndWait({"eject", mountPoint}, status, &output, true)) return ec;
  if (status != 0) return std::make_error_code(std::errc::io_error);
  return {};
}

}  // namespace nuvel::platform
