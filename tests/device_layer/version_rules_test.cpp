#include "device/version_rules.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

TEST(ParseVersionText, OrdersVersionsByMajorThenTwoFractionDigits) {
    EXPECT_EQ(ParseVersionText(u"1.07"), 65543u);
    EXPECT_EQ(ParseVersionText(u"1.7"), 67328u);
    EXPECT_EQ(ParseVersionText(u"1.70"), 67328u);
    EXPECT_EQ(ParseVersionText(u"1.10"), 65792u);
    EXPECT_LT(ParseVersionText(u"1.10"), ParseVersionText(u"1.7"));
    EXPECT_EQ(ParseVersionText(u"12.345"), 12u * 65536 + 3 * 256 + 4);
    EXPECT_EQ(ParseVersionText(u"123.4"), 12u * 65536 + 4 * 256);
    EXPECT_EQ(ParseVersionText(u"99.99"), 99u * 65536 + 9 * 256 + 9);
}

TEST(ParseVersionText, StopsAtTheFirstCharacterThatIsNotPartOfAVersion) {
    EXPECT_EQ(ParseVersionText(u"1.07a"), 65543u);
    EXPECT_EQ(ParseVersionText(u"1.0.7"), 65536u);
    EXPECT_EQ(ParseVersionText(u".5"), 0u);
    EXPECT_EQ(ParseVersionText(u""), 0u);
    EXPECT_EQ(ParseVersionText(u"---"), 0u);
    EXPECT_EQ(ParseVersionText(static_cast<const char16_t*>(nullptr)), 0u);
    EXPECT_EQ(ParseVersionText(u"2"), 2u * 65536);
    EXPECT_EQ(ParseVersionText(u" 1.07"), 0u);
}

struct NeedCase {
    const char16_t* normal;
    const char16_t* dsp;
    const char16_t* package;
    bool needed;
};

class UpdateNeeded : public ::testing::TestWithParam<NeedCase> {};

TEST_P(UpdateNeeded, FollowsTheDeviceAgreementAndNewerImageRule) {
    const NeedCase& c = GetParam();
    const VersionSlots device{u"1.05", c.normal, c.dsp};
    const VersionSlots image{u"", c.package, c.package};
    EXPECT_EQ(IsUpdateNeeded(device, image, {false, true, true}), c.needed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateNeeded,
    ::testing::Values(NeedCase{u"1.07", u"1.07", u"1.07", false},  // same: ask
                      NeedCase{u"1.05", u"1.05", u"1.07", true},   // older device
                      NeedCase{u"1.07", u"1.06", u"1.07", true},   // device disagrees
                      NeedCase{u"---", u"---", u"1.07", true},     // nothing read
                      NeedCase{u"1.10", u"1.10", u"1.07", false},  // device newer
                      NeedCase{u"", u"", u"1.07", true}));

TEST(UpdateNeededSlots, OnlySlotsHoldingAnImageAreCompared) {
    const VersionSlots device{u"1.00", u"1.07", u"1.07"};
    // A newer updater version counts only when the package carries one.
    EXPECT_FALSE(IsUpdateNeeded(device, {u"2.00", u"1.07", u"1.07"}, {false, true, true}));
    EXPECT_TRUE(IsUpdateNeeded(device, {u"2.00", u"1.07", u"1.07"}, {true, true, true}));
    EXPECT_FALSE(IsUpdateNeeded(device, {u"", u"", u""}, {false, false, false}));
}

}  // namespace
}  // namespace talvo
