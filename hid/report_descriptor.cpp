#include "hid/report_descriptor.h"

#include <array>

namespace talvo {

namespace {

enum ItemType { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag { kInput = 8, kOutput = 9, kCollection = 10, kFeature = 11, kEndCollection = 12 };
enum GlobalTag {
    kUsagePage = 0,
    kReportSize = 7,
    kReportId = 8,
    kReportCount = 9,
    kPush = 10,
    kPop = 11,
};
enum LocalTag { kUsage = 0 };

constexpr int kKinds = 3;  // input, output, feature
constexpr int kMaxPushDepth = 16;
constexpr std::uint64_t kMaxReportBits = 65534ull * 8;

struct GlobalState {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

int KindOf(unsigned tag) {
    switch (tag) {
        case kInput:
            return 0;
        case kOutput:
            return 1;
        case kFeature:
            return 2;
        default:
            return -1;
    }
}

}  // namespace

bool ParseReportDescriptor(const std::uint8_t* data, std::size_t length, HidReportLayout& layout) {
    layout = HidReportLayout{};
    if (data == nullptr || length == 0) {
        return false;
    }
    // Bits per report, per kind and report ID (0 = unnumbered).
    std::array<std::array<std::uint64_t, 256>, kKinds> bits{};
    std::array<bool, kKinds> present{};
    GlobalState global;
    std::array<GlobalState, kMaxPushDepth> stack{};
    int stackDepth = 0;
    int collectionDepth = 0;
    bool topCollectionSeen = false;
    std::uint32_t lastUsage = 0;
    bool lastUsageSet = false;
    int firstButtonId = -1, firstValueId = -1;

    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t prefix = data[pos++];
        if (prefix == 0xFE) {  // long item: size, tag, data; carries nothing we need
            if (length - pos < 2) {
                return false;
            }
            std::size_t size = data[pos];
            pos += 2;
            if (length - pos < size) {
                return false;
            }
            pos += size;
            continue;
        }
        static constexpr std::size_t kSizes[4] = {0, 1, 2, 4};
        const std::size_t size = kSizes[prefix & 3];
        if (length - pos < size) {
            return false;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(data[pos + i]) << (8 * i);
        }
        pos += size;
        const unsigned type = (prefix >> 2) & 3;
        const unsigned tag = prefix >> 4;

        if (type == kGlobal) {
            switch (tag) {
                case kUsagePage:
                    global.usagePage = value;
                    break;
                case kReportSize:
                    global.reportSize = value;
                    break;
                case kReportCount:
                    global.reportCount = value;
                    break;
                case kReportId:
                    if (value == 0 || value > 255) {
                        return false;
                    }
                    global.reportId = value;
                    layout.numberedReports = true;
                    break;
                case kPush:
                    if (stackDepth == kMaxPushDepth) {
                        return false;
                    }
                    stack[static_cast<std::size_t>(stackDepth++)] = global;
                    break;
                case kPop:
                    if (stackDepth == 0) {
                        return false;
                    }
                    global = stack[static_cast<std::size_t>(--stackDepth)];
                    break;
                default:
                    break;
            }
        } else if (type == kLocal) {
            if (tag == kUsage) {
                lastUsage = value;
                lastUsageSet = true;
            }
        } else if (type == kMain) {
            if (tag == kCollection) {
                if (collectionDepth == 0 && !topCollectionSeen) {
                    topCollectionSeen = true;
                    // A 4-byte usage carries its own page in the high half.
                    layout.usagePage = static_cast<std::uint16_t>(
                        lastUsageSet && (lastUsage >> 16) != 0 ? lastUsage >> 16
                                                               : global.usagePage);
                    layout.usage = static_cast<std::uint16_t>(lastUsage & 0xFFFF);
                }
                ++collectionDepth;
            } else if (tag == kEndCollection) {
                if (collectionDepth == 0) {
                    return false;
                }
                --collectionDepth;
            } else if (int kind = KindOf(tag); kind >= 0) {
                const std::uint64_t fieldBits =
                    static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
                std::uint64_t& total = bits[static_cast<std::size_t>(kind)][global.reportId];
                total += fieldBits;  // at most 2^64 - 1 after one step: checked at once
                if (total > kMaxReportBits) {
                    return false;
                }
                present[static_cast<std::size_t>(kind)] = true;
                const bool constant = (value & 0x01) != 0;
                const bool array = (value & 0x02) == 0;
                if (kind == 1 && !constant && fieldBits != 0) {
                    const bool button = array || global.reportSize == 1;
                    int& first = button ? firstButtonId : firstValueId;
                    if (first < 0) {
                        first = static_cast<int>(global.reportId);
                    }
                }
            }
            // Local items apply to the next main item only.
            lastUsageSet = false;
            lastUsage = 0;
        }
    }
    // A push left on the stack at the end does no harm; an open collection
    // means the descriptor was cut short.
    if (collectionDepth != 0) {
        return false;
    }

    std::uint16_t* lengths[kKinds] = {&layout.inputReportByteLength, &layout.outputReportByteLength,
                                      &layout.featureReportByteLength};
    for (std::size_t kind = 0; kind < kKinds; ++kind) {
        if (!present[kind]) {
            continue;
        }
        std::uint64_t largest = 0;
        for (std::uint64_t reportBits : bits[kind]) {
            largest = reportBits > largest ? reportBits : largest;
        }
        *lengths[kind] = static_cast<std::uint16_t>((largest + 7) / 8 + 1);
    }
    const int firstId = firstButtonId >= 0 ? firstButtonId : firstValueId;
    layout.outputReportId = static_cast<std::uint8_t>(firstId > 0 ? firstId : 0);
    return true;
}

}  // namespace talvo
