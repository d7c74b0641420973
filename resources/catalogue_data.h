// The tables behind resources/catalogue.h. Their definitions are generated at
// build time (catalogue_data.cpp in the build tree); only catalogue.cpp and
// the generated file include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "resources/catalogue.h"

namespace talvo::catalogue_data {

struct StringEntry {
    int id;
    std::u16string_view text;
};

struct AgreementEntry {
    int id;
    std::span<const std::uint8_t> bytes;
};

// Sorted by ID, ascending.
extern const StringEntry kStrings[];
extern const std::size_t kStringCount;
extern const int kStringIds[];

extern const DialogTemplate kDialogs[];
extern const std::size_t kDialogCount;

extern const AgreementEntry kAgreements[];
extern const std::size_t kAgreementCount;

extern const VersionData kShippedVersion;

}  // namespace talvo::catalogue_data
