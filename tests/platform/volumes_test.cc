#include "platform/volumes.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "platform/syscalls.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

using nuvel::testing::TestSysroot;

// Mount tables as the kernel writes them: optional tags between the options and " - ", none at
// all, several; octal escapes in mount points; read-only in either option list; and lines that
// are cut or are not mount lines at all.
constexpr const char* kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "25 22 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=8141236k,mode=755\n"
    "98 22 11:0 / /media/ana/NUVEL\\040DISC ro,nosuid,nodev,relatime shared:50 - iso9660 "
    "/dev/sr0 ro,nojoliet,check=s,map=n,blocksize=2048\n"
    "110 22 8:17 / /media/ana/STICK rw,nosuid,nodev,relatime shared:60 master:3 - vfat /dev/sdb1 "
    "rw,fmask=0022,dmask=0022\n"
    "120 22 0:55 / /mnt/school rw,nosuid,nodev,relatime - fuse.sshfs teacher@lab:/srv "
    "rw,user_id=0\n"
    "130 22 8:3 /exports /srv/tab\\011and\\134slash rw,relatime shared:80 - ext4 /dev/sda3 ro\n"
    "\n"
    "not a mount line\n"
    "140 22 8:4 / /no/separator rw,relatime shared:90 ext4 /dev/sda4 rw\n"
    "150 22 8:5 /\n";

TEST(MountInfoTest, ParsesTheKernelsLinesAndSkipsBrokenOnes) {
  struct Expected {
    int id;
    const char* mount;
    bool readOnly;
    const char* type;
    const char* device;
  };
  const Expected expected[] = {
      {22, "/", false, "ext4", "8:2"},
      {25, "/dev", false, "devtmpfs", "0:5"},
      {98, "/media/ana/NUVEL DISC", true, "iso9660", "11:0"},
      {110, "/media/ana/STICK", false, "vfat", "8:17"},
      {120, "/mnt/school", false, "fuse.sshfs", "0:55"},
      {130, "/srv/tab\tand\\slash", true, "ext4", "8:3"},
  };
  const std::vector<MountEntry> entries = ParseMountInfo(kMountInfo);
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(expected[i].mount);
    EXPECT_EQ(entries[i].id, expected[i].id);
    EXPECT_EQ(entries[i].mount, expected[i].mount);
    EXPECT_EQ(entries[i].readOnly, expected[i].readOnly);
    EXPECT_EQ(entries[i].type, expected[i].type);
    EXPECT_EQ(entries[i].device, expected[i].device);
  }
  EXPECT_TRUE(ParseMountInfo("").empty());
  // "\04" at the end of a field is no escape; neither is "\999".
  const std::vector<MountEntry> odd =
      ParseMountInfo("7 1 8:1 / /a\\999b\\04 ro - ext4 /dev/sda1 rw");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].mount, "/a\\999b\\04");
  EXPECT_TRUE(odd[0].readOnly);
}

TEST(MountInfoTest, TheRunningSystemsTableHasTheRoot) {
  TestSysroot sysroot;  // without NUVEL_VOLUMES
  Volume root;
  ASSERT_TRUE(VolumeOf("/proc/self", root) || VolumeOf("/", root));
  EXPECT_GT(root.number, 0);
  // Pseudo file systems (device 0:N) are never removable drives.
  EXPECT_FALSE(IsOnRemovableDrive("/proc/self"));
}

TEST(VolumeSeamTest, EntriesAreNumberedFromOneAndMatchWholeComponents) {
  TestSysroot sysroot;  // restores NUVEL_VOLUMES
  ::setenv("NUVEL_VOLUMES", "/media/stick:rw:usb,/media/disc:ro,/srv/,/media/disc/inner", 1);
  std::vector<Volume> volumes;
  ASSERT_FALSE(MountedVolumes(volumes));
  ASSERT_EQ(volumes.size(), 4u);
  EXPECT_EQ(volumes[0].mountPoint, "/media/stick");
  EXPECT_TRUE(volumes[0].removable);
  EXPECT_FALSE(volumes[0].readOnly);
  EXPECT_TRUE(volumes[1].readOnly);
  EXPECT_FALSE(volumes[1].removable);
  EXPECT_EQ(volumes[2].mountPoint, "/srv");
  EXPECT_FALSE(volumes[2].readOnly) << "an entry without a flag is read-write";

  Volume volume;
  ASSERT_TRUE(VolumeOf("/media/disc/inner/x", volume));
  EXPECT_EQ(volume.number, 4) << "the longest mount point wins";
  ASSERT_TRUE(VolumeOf("/media/disc", volume));
  EXPECT_EQ(volume.number, 2);
  EXPECT_FALSE(VolumeOf("/media/discs", volume)) << "whole components only";
  EXPECT_FALSE(VolumeOf("media/disc", volume)) << "a relative path lies on no volume";
  EXPECT_TRUE(IsOnRemovableDrive("/media/stick/Nuvel/launch"));
  EXPECT_FALSE(IsOnRemovableDrive("/srv/Nuvel"));
  EXPECT_EQ(EjectVolume("/media/disc"), std::errc::operation_not_supported);
}

// ---- Free space, on a file system of a known size --------------------------------------------

std::string gProbed;            // the paths asked about, one per line
std::uint64_t gFreeBlocks = 0;  // blocks of 4096 bytes
int FakeStatvfs(const char* path, struct statvfs* buf) {
  gProbed += std::string(path) + "\n";
  if (std::string(path).find("/missing") != std::string::npos) {
    errno = ENOENT;
    return -1;
  }
  *buf = {};
  buf->f_frsize = 4096;
  buf->f_bsize = 65536;
  buf->f_bavail = gFreeBlocks;
  return 0;
}

class FreeSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gProbed.clear();
    syscalls().statvfs = FakeStatvfs;
  }
  void TearDown() override { ResetSyscalls(); }
};

TEST_F(FreeSpaceTest, CountsFragmentsOfThePathOrItsNearestExistingAncestor) {
  gFreeBlocks = 3;
  std::uint64_t bytes = 0;
  ASSERT_FALSE(FreeSpace("/srv/missing/not/yet/", bytes));
  EXPECT_EQ(bytes, 3u * 4096);
  EXPECT_EQ(gProbed, "/srv/missing/not/yet\n/srv/missing/not\n/srv/missing\n/srv\n");

  gFreeBlocks = std::uint64_t{1} << 40;  // 4 PB: more than 32 bits of bytes
  ASSERT_FALSE(FreeSpace("/srv", bytes));
  EXPECT_EQ(bytes, std::uint64_t{1} << 52);
  gFreeBlocks = std::numeric_limits<std::uint64_t>::max() / 1024;
  ASSERT_FALSE(FreeSpace("/srv", bytes));
  EXPECT_EQ(bytes, std::numeric_limits<std::uint64_t>::max()) << "saturates, never wraps";

  EXPECT_EQ(FreeSpace("srv", bytes), std::errc::invalid_argument);
  EXPECT_EQ(FreeSpace("", bytes), std::errc::invalid_argument);
  EXPECT_EQ(bytes, 0u);
}

}  // namespace
}  // namespace nuvel::platform
