// LoadFirmwarePackage against what the test executable carries: the shipped
// package, no package at all, or an empty one (TALVO_CARRIED_PACKAGE).
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "firmware/firmware_package.h"

#define TALVO_CARRIES_SHIPPED 1
#define TALVO_CARRIES_NOTHING 2
#define TALVO_CARRIES_EMPTY 3

namespace talvo {
namespace {

#if TALVO_CARRIED_PACKAGE == TALVO_CARRIES_SHIPPED

TEST(LoadFirmwarePackage, FindsTheCarriedPackageAndSplitsIt) {
    std::ifstream file(TALVO_SHIPPED_PACKAGE, std::ios::binary);
    ASSERT_TRUE(file);
    const std::vector<char> shipped((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());

    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    ASSERT_TRUE(FindPackageResource(&bytes, &size));
    ASSERT_EQ(size, shipped.size());
    EXPECT_EQ(std::memcmp(bytes, shipped.data(), size), 0);

    FirmwarePackage slots;
    EXPECT_EQ(LoadFirmwarePackage(slots), 1);
    EXPECT_FALSE(slots.HasImage(kImageTypeFwup));
    EXPECT_EQ(slots.imageLength[kImageTypeNormal], 76044u);
    EXPECT_EQ(slots.imageLength[kImageTypeDspMain], 122752u);
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"1.07");
    EXPECT_EQ(slots.imageVersion[kImageTypeDspMain], u"1.07");
    ASSERT_TRUE(slots.HasImage(kImageTypeDspMain));
    EXPECT_EQ(std::memcmp(slots.imageData[kImageTypeDspMain].get(), shipped.data() + 76044, 122752),
              0);
    // The carried bytes are only read.
    EXPECT_EQ(std::memcmp(bytes, shipped.data(), size), 0);
}

#else

TEST(LoadFirmwarePackage, WithoutPackageGivesZeroAndLeavesSlotsAlone) {
    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 1234;
    const bool found = FindPackageResource(&bytes, &size);
#if TALVO_CARRIED_PACKAGE == TALVO_CARRIES_EMPTY
    EXPECT_TRUE(found);
    EXPECT_EQ(size, 0u);
#else
    EXPECT_FALSE(found);
#endif

    FirmwarePackage slots;
    slots.imageData[kImageTypeNormal].reset(new std::uint8_t[4]{1, 2, 3, 4});
    slots.imageLength[kImageTypeNormal] = 4;
    slots.imageVersion[kImageTypeNormal] = u"0.9";
    EXPECT_EQ(LoadFirmwarePackage(slots), 0);
    EXPECT_TRUE(slots.HasImage(kImageTypeNormal));
    EXPECT_EQ(slots.imageLength[kImageTypeNormal], 4u);
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"0.9");
}

#endif

}  // namespace
}  // namespace talvo
