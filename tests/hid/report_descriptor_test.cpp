// The report descriptor parser on descriptors shaped like real devices'.
#include <gtest/gtest.h>

#include <vector>

#include "hid/report_descriptor.h"
#include "hid/talvo_descriptor.h"
#include "hid/talvo_ids.h"

namespace talvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Parse(const Bytes& descriptor, HidReportLayout& layout) {
    return ParseReportDescriptor(descriptor.data(), descriptor.size(), layout);
}

// A boot keyboard: modifier byte, reserved byte, six key codes; five LED
// bits padded to one output byte.
const Bytes kKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop, Keyboard, Application
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,  // Key codes, usages E0..E7
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,              // 8 modifier bits
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                                      // reserved byte
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02,  // LEDs
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                                      // LED padding
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00,
    0x29, 0x65, 0x81, 0x00,  // six key codes (array)
    0xC0,
};

// A mouse with report IDs: 1 = buttons, X/Y (16 bit), wheel; 2 = a consumer
// control; feature report 3 = a resolution multiplier.
const Bytes
    kMouse =
        {
            0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,  // Generic Desktop, Mouse, Application
            0x85, 0x01, 0x09, 0x01, 0xA1, 0x00,  //   Report ID 1, Pointer, Physical
            0x05, 0x09, 0x19, 0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05,
            0x75, 0x01, 0x81, 0x02,              // 5 buttons
            0x95, 0x01, 0x75, 0x03, 0x81, 0x01,  // padding
            0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x16, 0x01, 0x80, 0x26, 0xFF, 0x7F,
            0x75, 0x10, 0x95, 0x02, 0x81, 0x06,                                      // X, Y
            0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x01, 0x81, 0x06,  // wheel
            0xA4,                                                                    // Push
            0x85, 0x03, 0x09, 0x48, 0x15, 0x00, 0x25, 0x01, 0x75, 0x02, 0x95, 0x01,
            0xB1, 0x02,                                      // resolution multiplier
            0x75, 0x06, 0xB1, 0x01,                          // padding
            0xB4,                                            // Pop
            0xC0,                                            //   End (Physical)
            0xC0,                                            // End (Application)
            0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02,  // Consumer, ID 2
            0x19, 0x00, 0x2A, 0x3C, 0x02, 0x15, 0x00, 0x26, 0x3C, 0x02, 0x75, 0x10,
            0x95, 0x01, 0x81, 0x00,  // one 16-bit usage
            0xC0,
};

// A vendor-defined page with numbered reports: ID 5 carries 63 input and
// 32 output value bytes, ID 6 a single output button bit.
const Bytes kVendor = {
    0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01,              // vendor page FFA0, Application
    0x85, 0x05, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,  // ID 5, bytes
    0x95, 0x3F, 0x09, 0x01, 0x81, 0x02,                    // 63 input bytes
    0x95, 0x20, 0x09, 0x02, 0x91, 0x02,                    // 32 output bytes (values)
    0x85, 0x06, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01, 0x09, 0x03, 0x91, 0x02,  // ID 6, 1 bit
    0x75, 0x07, 0x91, 0x03,                                                  // padding
    0xFE, 0x02, 0x10, 0xAA, 0xBB,                                            // a long item, skipped
    0xC0,
};

TEST(ReportDescriptor, TalvoModesGiveTheirReportLengths) {
    for (int length : {kNormalReportLength, kUpdateReportLength}) {
        HidReportLayout layout;
        ASSERT_TRUE(Parse(TalvoReportDescriptor(length), layout));
        EXPECT_EQ(layout.inputReportByteLength, length + 1);
        EXPECT_EQ(layout.outputReportByteLength, length + 1);
        EXPECT_EQ(layout.featureReportByteLength, 0);
        EXPECT_EQ(layout.outputReportId, 0);
        EXPECT_FALSE(layout.numberedReports);
        EXPECT_EQ(layout.usagePage, 0xFF00);
        EXPECT_EQ(layout.usage, 1);
        EmulatedIdentity identity = TalvoEmulatedIdentity(length);
        EXPECT_EQ(identity.inputReportByteLength, layout.inputReportByteLength);
        EXPECT_EQ(identity.outputReportByteLength, layout.outputReportByteLength);
    }
    EXPECT_EQ(TalvoEmulatedIdentity(kUpdateReportLength).productId, kTalvoUpdateProductId);
}

TEST(ReportDescriptor, KeyboardCountsPaddingAndArrayFields) {
    HidReportLayout layout;
    ASSERT_TRUE(Parse(kKeyboard, layout));
    EXPECT_EQ(layout.inputReportByteLength, 9);
    EXPECT_EQ(layout.outputReportByteLength, 2);
    EXPECT_EQ(layout.featureReportByteLength, 0);
    EXPECT_EQ(layout.usagePage, 1);
    EXPECT_EQ(layout.usage, 6);
}

TEST(ReportDescriptor, NumberedReportsTakeTheLargestPerKind) {
    HidReportLayout layout;
    ASSERT_TRUE(Parse(kMouse, layout));
    EXPECT_TRUE(layout.numberedReports);
    EXPECT_EQ(layout.inputReportByteLength, 7);  // ID 1: 1 + 4 + 1 bytes; ID 2 only 2
    EXPECT_EQ(layout.outputReportByteLength, 0);
    // The feature field was declared under ID 3 inside Push/Pop: it is
    // still counted, and the mouse's own fields stay under ID 1.
    EXPECT_EQ(layout.featureReportByteLength, 2);
    EXPECT_EQ(layout.usagePage, 1);
    EXPECT_EQ(layout.usage, 2);
}

TEST(ReportDescriptor, FirstOutputButtonBeatsAnEarlierValueField) {
    HidReportLayout layout;
    ASSERT_TRUE(Parse(kVendor, layout));
    EXPECT_EQ(layout.inputReportByteLength, 64);
    EXPECT_EQ(layout.outputReportByteLength, 33);
    EXPECT_EQ(layout.outputReportId, 6);
    EXPECT_EQ(layout.usagePage, 0xFFA0);

    // Without the button field the first value field's ID is taken.
    Bytes valuesOnly(kVendor.begin(), kVendor.begin() + 28);
    valuesOnly.push_back(0xC0);
    ASSERT_TRUE(Parse(valuesOnly, layout));
    EXPECT_EQ(layout.outputReportId, 5);
    EXPECT_EQ(layout.outputReportByteLength, 33);
}

TEST(ReportDescriptor, MalformedDescriptorsAreRefused) {
    const std::vector<Bytes> bad = {
        {},                                                // empty
        {0x05},                                            // truncated item data
        {0x06, 0x00},                                      // truncated two-byte item
        {0x85, 0x00, 0x81, 0x02},                          // report ID 0
        {0x86, 0x00, 0x01},                                // report ID 256
        {0xB4},                                            // pop without push
        {0xC0},                                            // end without collection
        {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},  // collection left open
        {0xFE, 0x05, 0x10, 0x00},                          // long item cut short
        {0xFE},                                            // long item prefix alone
        // Report size and count at their maximum: far beyond any report.
        {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02},
        // 65535 bytes: one more than a byte length with its ID byte can hold.
        {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02},
    };
    for (const Bytes& descriptor : bad) {
        HidReportLayout layout;
        layout.inputReportByteLength = 99;
        EXPECT_FALSE(Parse(descriptor, layout)) << "descriptor of " << descriptor.size();
        EXPECT_EQ(layout.inputReportByteLength, 0);  // nothing half-filled is left behind
    }
    Bytes deepPush(17, 0xA4);
    HidReportLayout layout;
    EXPECT_FALSE(Parse(deepPush, layout));
    Bytes pushes(16, 0xA4);
    EXPECT_TRUE(Parse(pushes, layout));
    // The largest report that fits.
    EXPECT_TRUE(Parse({0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02}, layout));
    EXPECT_EQ(layout.inputReportByteLength, 65535);
}

TEST(ReportDescriptor, EveryCutOfARealDescriptorIsHandled) {
    for (const Bytes* full : {&kKeyboard, &kMouse, &kVendor}) {
        HidReportLayout whole;
        ASSERT_TRUE(Parse(*full, whole));
        for (std::size_t cut = 0; cut < full->size(); ++cut) {
            // Its own allocation, so that a read past the cut trips ASan.
            Bytes part(full->begin(), full->begin() + static_cast<std::ptrdiff_t>(cut));
            HidReportLayout layout;
            // A cut inside a collection leaves it open and is refused; one
            // between whole collections declares no more than the whole.
            if (Parse(part, layout)) {
                EXPECT_LE(layout.inputReportByteLength, whole.inputReportByteLength) << cut;
                EXPECT_LE(layout.outputReportByteLength, whole.outputReportByteLength) << cut;
                EXPECT_LE(layout.featureReportByteLength, whole.featureReportByteLength) << cut;
            }
        }
    }
}

}  // namespace
}  // namespace talvo
