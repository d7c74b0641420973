// The build's own platform answers (no test platform installed).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "shell/platform.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace talvo {
namespace {

// Catches a named mutex that never reports the other holder: a second copy
// of the program would then run beside the first.
TEST(BuildPlatform, NamedMutexIsFoundTakenUntilEveryHolderHasClosedIt) {
    std::u16string name = u"TALVO-PLATFORM-TEST-";
    for (char c : std::to_string(std::random_device{}())) {
        name.push_back(static_cast<char16_t>(c));
    }
    NamedMutex first;
    ASSERT_EQ(first.Create(name), NamedMutex::Result::Created);
    {
        NamedMutex second;
        EXPECT_EQ(second.Create(name), NamedMutex::Result::AlreadyExists);
        EXPECT_TRUE(second.IsHeld());
    }
    EXPECT_EQ(NamedMutex().Create(name), NamedMutex::Result::AlreadyExists)
        << "the first holder still has it";
    first.Close();
    NamedMutex again;
    EXPECT_EQ(again.Create(name), NamedMutex::Result::Created);
}

// Catches a build that loses the agreement texts (the dialog would open
// empty) or hands out another resource type's bytes for them.
TEST(BuildPlatform, RawResourcesAreTheShippedAgreementTexts) {
    for (int id : {kIdAgreementText, kIdAgreementText + 10000, kIdAgreementText + 20000}) {
        const auto shipped = FindAgreementText(id);
        ASSERT_FALSE(shipped.empty()) << id;
        EXPECT_EQ(LoadRawResource(kResourceTypeHtml, id),
                  std::vector<std::uint8_t>(shipped.begin(), shipped.end()))
            << id;
    }
    EXPECT_TRUE(LoadRawResource(kResourceTypeHtml, kIdAgreementText + 1).empty());
}

}  // namespace
}  // namespace talvo
