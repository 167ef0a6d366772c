// vc-uhid through raw hidraw ioctls: the node, the descriptor, a record round trip
// and a refused report ID (the link's own tests replace this once it lands).
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/vm/vm_scene.h"

TEST(VcUhidProbe, IdentityRecordRoundTrip) {
    VmScene scene;
    ASSERT_TRUE(scene.Start("log-file @LOG@\nother-device 0x1234 0x0001\ncontroller\nreport-length 101\nvalue-caps 2 4095 2047\nstore @STORE@\n")) << scene.error;
    ASSERT_EQ(scene.process.nodes.size(), 2u);
    int fd = open(scene.process.nodes[1].c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    hidraw_devinfo info;
    ASSERT_EQ(ioctl(fd, HIDIOCGRAWINFO, &info), 0);
    EXPECT_EQ(info.bustype, 3);
    EXPECT_EQ(info.vendor, static_cast<std::int16_t>(0xFFFE));
    int size = 0;
    ASSERT_EQ(ioctl(fd, HIDIOCGRDESCSIZE, &size), 0);
    EXPECT_GT(size, 10);
    std::uint8_t buf[101] = {0x55, 0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0d};
    EXPECT_EQ(ioctl(fd, HIDIOCSFEATURE(101), buf), 101);
    std::memset(buf, 0, sizeof buf);
    buf[0] = 0x55;
    EXPECT_EQ(ioctl(fd, HIDIOCGFEATURE(101), buf), 101);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(buf[2], 'C');
    EXPECT_EQ(buf[4], '0');
    buf[0] = 0x02;
    EXPECT_LT(ioctl(fd, HIDIOCGFEATURE(101), buf), 0);
    close(fd);
    std::printf("%s", scene.LogText().c_str());
}
