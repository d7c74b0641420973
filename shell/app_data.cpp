#include "shell/app_data.h"

namespace talvo {

AppData g_appData;

std::u16string_view AppData::ProductName() const {
    std::size_t n = 0;
    while (n < kProductNameUnits && productName[n] != u'\0') {
        ++n;
    }
    return {productName, n};
}

void AppData::SetProductName(std::u16string_view name) {
    std::size_t n = 0;
    for (; n < kProductNameUnits - 1 && n < name.size() && name[n] != u'\0'; ++n) {
        productName[n] = name[n];
    }
    for (; n < kProductNameUnits; ++n) {
        productName[n] = u'\0';
    }
}

namespace {

void AppendDecimal(std::u16string& out, std::int32_t value) {
    // Widened first so that the most negative value prints correctly too.
    std::int64_t v = value;
    if (v < 0) {
        out.push_back(u'-');
        v = -v;
    }
    char16_t digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

}  // namespace

std::u16string FormatAboutLine(std::u16string_view productName, std::int32_t major,
                               std::int32_t minor, std::int32_t build) {
    std::u16string line(productName);
    line += u"  Version ";
    AppendDecimal(line, major);
    line.push_back(u'.');
    AppendDecimal(line, minor);
    AppendDecimal(line, build);
    return line;
}

std::u16string FormatAboutLine(const AppData& data) {
    return FormatAboutLine(data.ProductName(), data.productVersionMajor, data.productVersionMinor,
                           data.productVersionBuild);
}

}  // namespace talvo
