// The compiled resources of this executable (it links the product's) read
// back through the system, compared with the portable data generated from
// the same catalogue: both outputs of the generator must agree.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>

#include "resources/catalogue.h"

namespace talvo {
namespace {

std::span<const std::uint8_t> Resource(const wchar_t* type, int id) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(self, MAKEINTRESOURCEW(id), type);
    if (info == nullptr) {
        return {};
    }
    HGLOBAL handle = LoadResource(self, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (data == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(data), SizeofResource(self, info)};
}

std::u16string Ordinal(unsigned n) {
    const std::string digits = std::to_string(n);
    std::u16string s(u"#");
    s.append(digits.begin(), digits.end());
    return s;
}

// Reads the fields of an extended dialog template in order.
class TemplateReader {
  public:
    explicit TemplateReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint16_t Word() {
        std::uint16_t v = 0;
        Take(&v, sizeof v);
        return v;
    }
    std::uint32_t Dword() {
        std::uint32_t v = 0;
        Take(&v, sizeof v);
        return v;
    }
    std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
    std::uint8_t Byte() {
        std::uint8_t v = 0;
        Take(&v, sizeof v);
        return v;
    }
    std::u16string String() {
        std::u16string s;
        for (char16_t c = Word(); c != 0 && ok_; c = Word()) {
            s.push_back(c);
        }
        return s;
    }
    // A name or ordinal: the text, or "#<ordinal>".
    std::u16string NameOrOrdinal() {
        const std::uint16_t first = Word();
        if (first == 0) {
            return {};
        }
        if (first == 0xFFFF) {
            return Ordinal(Word());
        }
        std::u16string s(1, static_cast<char16_t>(first));
        return s + String();
    }
    void AlignToDword() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
    void Skip(std::size_t n) { pos_ += n; }
    bool Ok() const { return ok_ && pos_ <= bytes_.size(); }

  private:
    void Take(void* out, std::size_t n) {
        if (pos_ + n > bytes_.size()) {
            ok_ = false;
            return;
        }
        std::memcpy(out, bytes_.data() + pos_, n);
        pos_ += n;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

std::u16string Lower(std::u16string s) {
    for (char16_t& c : s) {
        c = static_cast<char16_t>(std::towlower(c));
    }
    return s;
}

// Class names as the template stores them: predefined classes may be
// ordinals, and class names are compared without regard to case.
std::u16string ClassName(const std::u16string& stored) {
    if (stored == u"#128")
        return u"button";
    if (stored == u"#129")
        return u"edit";
    if (stored == u"#130")
        return u"static";
    return Lower(stored);
}

TEST(CompiledResources, DialogTemplatesAgreeWithThePortableTemplates) {
    for (const DialogTemplate& want : AllDialogTemplates()) {
        SCOPED_TRACE(want.id);
        const std::span<const std::uint8_t> bytes = Resource(RT_DIALOG, want.id);
        ASSERT_FALSE(bytes.empty());
        TemplateReader r(bytes);
        EXPECT_EQ(r.Word(), 1);       // version
        EXPECT_EQ(r.Word(), 0xFFFF);  // extended template
        r.Dword();                    // help ID
        EXPECT_EQ(r.Dword(), Win32DialogExStyle(want));
        EXPECT_EQ(r.Dword(), Win32DialogStyle(want));
        const std::uint16_t count = r.Word();
        EXPECT_EQ(r.Short(), 0);
        EXPECT_EQ(r.Short(), 0);
        EXPECT_EQ(r.Short(), want.width);
        EXPECT_EQ(r.Short(), want.height);
        EXPECT_EQ(r.NameOrOrdinal(), u"");  // no menu
        EXPECT_EQ(r.NameOrOrdinal(), u"");  // default dialog class
        EXPECT_EQ(r.String(), want.caption);
        EXPECT_EQ(r.Word(), want.fontPoints);
        r.Word();  // weight
        r.Byte();  // italic
        r.Byte();  // character set
        EXPECT_EQ(r.String(), want.fontName);
        ASSERT_EQ(count, want.controls.size());
        for (const ControlTemplate& c : want.controls) {
            SCOPED_TRACE(c.id);
            r.AlignToDword();
            r.Dword();                 // help ID
            EXPECT_EQ(r.Dword(), 0u);  // extended style
            EXPECT_EQ(r.Dword(), Win32ControlStyle(c));
            EXPECT_EQ(r.Short(), c.x);
            EXPECT_EQ(r.Short(), c.y);
            EXPECT_EQ(r.Short(), c.width);
            EXPECT_EQ(r.Short(), c.height);
            EXPECT_EQ(r.Dword(), static_cast<std::uint32_t>(c.id));
            EXPECT_EQ(ClassName(r.NameOrOrdinal()),
                      Lower(std::u16string(ControlClassName(c.kind))));
            const std::u16string text = r.NameOrOrdinal();
            if (c.kind == ControlKind::StaticIcon) {
                EXPECT_EQ(text, Ordinal(static_cast<unsigned>(c.iconId)));
            } else {
                EXPECT_EQ(text, c.text);
            }
            r.Skip(r.Word());  // creation data
        }
        EXPECT_TRUE(r.Ok()) << "template shorter than its fields";
    }
}

TEST(CompiledResources, AgreementTextsAreTheSameBytes) {
    for (int id : {130, 10130, 20130}) {
        const std::span<const std::uint8_t> compiled = Resource(MAKEINTRESOURCEW(23), id);
        const std::span<const std::uint8_t> portable = FindAgreementText(id);
        ASSERT_FALSE(compiled.empty()) << id;
        EXPECT_TRUE(std::equal(compiled.begin(), compiled.end(), portable.begin(), portable.end()))
            << id;
    }
}

TEST(CompiledResources, IconHasTheThreeSizes) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const std::span<const std::uint8_t> group = Resource(RT_GROUP_ICON, kIdiApp);
    ASSERT_GE(group.size(), 6u);
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, 2);
    ASSERT_EQ(group.size(), 6u + count * sizeof(GroupEntry));
    bool has16 = false, has32 = false, has48 = false;
    for (WORD i = 0; i < count; ++i) {
        GroupEntry e;
        std::memcpy(&e, group.data() + 6 + i * sizeof(GroupEntry), sizeof e);
        EXPECT_EQ(e.width, e.height);
        has16 |= e.width == 16;
        has32 |= e.width == 32;
        has48 |= e.width == 48;
        EXPECT_EQ(Resource(RT_ICON, e.id).size(), e.bytes);
    }
    EXPECT_TRUE(has16 && has32 && has48);
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIdiApp), IMAGE_ICON, 48,
                             48, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon) {
        DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST(CompiledResources, ManifestAsksForCommonControls6AsInvokerAndDpiAwareness) {
    const std::span<const std::uint8_t> bytes = Resource(MAKEINTRESOURCEW(24), 1);
    ASSERT_FALSE(bytes.empty());
    const std::string xml(bytes.begin(), bytes.end());
    // The architecture is the executable's own: a 64-bit program with an x86
    // manifest gets no common controls 6 and fails to start.
    const char* common = sizeof(void*) == 8
                             ? "processorArchitecture=\"amd64\" publicKeyToken=\"6595b64144ccf1df\""
                             : "processorArchitecture=\"x86\" publicKeyToken=\"6595b64144ccf1df\"";
    for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             common, "level=\"asInvoker\" uiAccess=\"false\"", ">true</dpiAware>",
                             "name=\"TALVO.FW-Updater\" version=\"1.0.1.0\""}) {
        EXPECT_NE(xml.find(part), std::string::npos) << part;
    }
}

#if defined(TALVO_PACKAGE_SIZE)
TEST(CompiledResources, CarriesTheFirmwarePackage) {
    const std::span<const std::uint8_t> package = Resource(L"BIN", kIdrFirmwarePackage);
    EXPECT_EQ(package.size(), static_cast<std::size_t>(TALVO_PACKAGE_SIZE));
}
#endif

std::u16string QueryString(const void* block, const wchar_t* key) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, key, &value, &length) || value == nullptr) {
        return u"<missing>";
    }
    return std::u16string(static_cast<const char16_t*>(value));
}

TEST(CompiledResources, VersionBlockIsTheShippedOne) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &unused);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const WORD* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    const VersionData& v = ShippedVersionData();
    EXPECT_EQ(QueryString(block.data(), L"\\StringFileInfo\\040904b0\\ProductName"), v.productName);
    EXPECT_EQ(QueryString(block.data(), L"\\StringFileInfo\\040904b0\\FileDescription"),
              u"TALVO FW-Updater");
    EXPECT_EQ(QueryString(block.data(), L"\\StringFileInfo\\040904b0\\InternalName"),
              u"TALVO FW-Updater");
    EXPECT_EQ(QueryString(block.data(), L"\\StringFileInfo\\040904b0\\FileVersion"), u"1.0.1.0");
    EXPECT_EQ(QueryString(block.data(), L"\\StringFileInfo\\040904b0\\ProductVersion"), u"1.0.1.0");
}

}  // namespace
}  // namespace talvo
