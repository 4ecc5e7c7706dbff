#include "platform/volumes.h"

#include <sys/vfs.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

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

bool UnderPrefix(const std::string& path, std::string_view prefix) {
  while (prefix.size() > 1 && prefix.back() == '/') prefix.remove_suffix(1);
  if (prefix.empty() || path.compare(0, prefix.size(), prefix) != 0) return false;
  return path.size() == prefix.size() || path[prefix.size()] == '/' || prefix == "/";
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

// sshfs is a FUSE file system; /proc/self/mountinfo names the FUSE subtype of the mount that
// holds the path (the longest mount point that is a prefix of it).
bool IsSshfs(const std::string& path) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line, best_mount, best_type;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, mount;
    if (!(fields >> id >> parent >> dev >> root >> mount)) continue;
    auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type;
    tail >> type;
    mount = Unescape(mount);
    if (UnderPrefix(path, mount) && mount.size() >= best_mount.size()) {
      best_mount = mount;
      best_type = type;
    }
  }
  return best_type == "fuse.sshfs";
}

}  // namespace

std::error_code IsNetworkPath(const std::string& path, bool& networked, unsigned long& fs_type) {
  networked = false;
  fs_type = 0;
  if (InNetworkSeam(path)) {
    networked = true;
    return {};
  }
  // Examine the nearest existing ancestor: a folder about to be created lies on its parent's
  // volume.
  std::string probe = path.empty() ? "/" : path;
  struct statfs st;
  while (::statfs(probe.c_str(), &st) != 0) {
    if (errno != ENOENT || probe == "/") return {errno, std::generic_category()};
    auto slash = probe.find_last_of('/');
    probe = slash == 0 || slash == std::string::npos ? "/" : probe.substr(0, slash);
  }
  fs_type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFUL;
  for (unsigned long type : kNetworkTypes) {
    if (fs_type == type) networked = true;
  }
  if (fs_type == kFuse && IsSshfs(probe)) networked = true;
  return {};
}

}  // namespace nuvel::platform
