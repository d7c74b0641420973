#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/fw_cli.h"
#include "tools/package_inspector.h"

namespace talvo::fwtools {
namespace {

namespace fs = std::filesystem;

class ToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() / ("talvo-tools-test-" + std::to_string(stamp));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const Bytes& bytes) const {
        std::string error;
        ASSERT_TRUE(WriteWholeFile(Path(name), bytes, error)) << error;
    }
    Bytes Read(const std::string& name) const {
        std::string error;
        auto bytes = ReadWholeFile(Path(name), error);
        EXPECT_TRUE(bytes) << error;
        return bytes.value_or(Bytes{});
    }

    int FwImage(const std::vector<std::string>& args) { return Run(RunFwImage, args); }
    int FwPack(const std::vector<std::string>& args) { return Run(RunFwPack, args); }
    int Inspect(const std::vector<std::string>& args) { return Run(RunPackageInspect, args); }

    std::string out_, err_;

  private:
    template <typename Tool>
    int Run(Tool tool, const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = tool(args, out, err);
        out_ = out.str();
        err_ = err.str();
        return code;
    }
    fs::path dir_;
};

TEST_F(ToolsTest, FwImageWritesWhatTheLibraryBuilds) {
    ASSERT_EQ(FwImage({"--magic",   "DSPA",
                       "--version", "1.07",
                       "--length",  "2048",
                       "--seed",    "0x99",
                       "--key0",    "0xDEADBEEF",
                       "--key1",    "17",
                       "--aux1",    "0102030405060708",
                       "--aux2",    "a0b0c0d0",
                       "--aux3",    "ffeeddccbbaa9988",
                       "--out",     Path("image.bin")}),
              kExitOk)
        << err_;
    EXPECT_NE(out_.find("2048 bytes"), std::string::npos);

    ImageParams params = SeededImage("DSPA", "1.07", 2048, 0x99, 0xDEADBEEF, 17);
    params.aux1 = {1, 2, 3, 4, 5, 6, 7, 8};
    params.aux2 = {0xA0, 0xB0, 0xC0, 0xD0};
    params.aux3 = {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88};
    EXPECT_EQ(Read("image.bin"), BuildImage(params));
}

TEST_F(ToolsTest, FwImageBodyFromFileAndTestOverrides) {
    Write("body.bin", SeededBytes(3, 400));
    Write("leading.bin", SeededBytes(4, 512));
    ASSERT_EQ(FwImage({"--type", "Fwup", "--version", "2", "--body", Path("body.bin"), "--leading",
                       Path("leading.bin"), "--revision", "5", "--out", Path("image.bin")}),
              kExitOk)
        << err_;
    ImageParams params;
    params.magic = {'F', 'W', 'U', 'P'};
    params.version = {'2', 0, 0, 0};
    params.formatRevision = 5;
    params.leadingBlock = SeededBytes(4, 512);
    params.body = SeededBytes(3, 400);
    const Bytes image = Read("image.bin");
    EXPECT_EQ(image, BuildImage(params));
    ulo_CFirmFile file;
    EXPECT_EQ(file.Validate(image.data(), static_cast<std::uint32_t>(image.size())),
              kFirmBadFormat);

    ASSERT_EQ(FwImage({"--magic", "UASP", "--version", "1.07", "--length", "1024", "--body-crc",
                       "0x1234", "--out", Path("badcrc.bin")}),
              kExitOk);
    const Bytes badCrc = Read("badcrc.bin");
    EXPECT_EQ(ReadLe16(&badCrc[kBodyCrcOffset]), 0x1234);
}

TEST_F(ToolsTest, FwImageRefusesBadArguments) {
    Write("odd.bin", Bytes(401, 0));
    Write("short.bin", Bytes(100, 0));
    const std::string out = Path("x.bin");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024"}, "required"},
        {{"--magic", "UAS", "--version", "1.07", "--length", "1024", "--out", out}, "--magic"},
        {{"--type", "Main", "--version", "1.07", "--length", "1024", "--out", out}, "--type"},
        {{"--magic", "UASP", "--version", "1.075", "--length", "1024", "--out", out}, "--version"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "560", "--out", out}, "--length"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1022", "--out", out}, "--length"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "12x", "--out", out}, "--length"},
        {{"--magic", "UASP", "--version", "1.07", "--out", out}, "either"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024", "--body", Path("odd.bin"),
          "--out", out},
         "either"},
        {{"--magic", "UASP", "--version", "1.07", "--body", Path("odd.bin"), "--out", out},
         "multiple of 4"},
        {{"--magic", "UASP", "--version", "1.07", "--body", Path("none.bin"), "--out", out},
         "cannot open"},
        {{"--magic", "UASP", "--version", "1.07", "--body", Path("short.bin"), "--leading",
          Path("short.bin"), "--out", out},
         "512 bytes"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024", "--key0", "0x100000000",
          "--out", out},
         "--key0"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024", "--key1", "-1", "--out", out},
         "--key1"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024", "--aux1", "0102", "--out",
          out},
         "--aux1"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024", "--aux2", "zz000000", "--out",
          out},
         "--aux2"},
        {{"--magic", "UASP", "--version", "1.07", "--length", "1024", "--body-crc", "65536",
          "--out", out},
         "--body-crc"},
        {{"--magic", "UASP", "--bogus", "1", "--out", out}, "unknown option"},
        {{"--magic", "UASP", "--version"}, "missing value"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(FwImage(args), kExitUsage) << message;
        EXPECT_NE(err_.find(message), std::string::npos) << message << "\n" << err_;
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ToolsTest, FwPackJoinsValidImagesOnly) {
    const Bytes a = BuildImage(SeededImage("UASP", "1.07", 1024, 1, 2, 3));
    const Bytes b = BuildImage(SeededImage("DSPA", "1.07", 2048, 4, 5, 6));
    Bytes broken = a;
    broken[900] ^= 4;
    Bytes padded = a;
    padded.resize(1028, 0);
    Write("a.bin", a);
    Write("b.bin", b);
    Write("broken.bin", broken);
    Write("padded.bin", padded);

    ASSERT_EQ(FwPack({"--out", Path("p.bin"), Path("a.bin"), Path("b.bin")}), kExitOk) << err_;
    EXPECT_EQ(Read("p.bin"), JoinImages({a, b}));

    EXPECT_EQ(FwPack({"--out", Path("q.bin"), Path("a.bin"), Path("broken.bin")}), kExitInvalid);
    EXPECT_NE(err_.find("body checksum mismatch"), std::string::npos) << err_;
    EXPECT_EQ(FwPack({"--out", Path("q.bin"), Path("padded.bin")}), kExitInvalid);
    EXPECT_NE(err_.find("1028 bytes but its total length is 1024"), std::string::npos) << err_;
    EXPECT_EQ(FwPack({"--out", Path("q.bin"), Path("a.bin"), Path("a.bin"), Path("a.bin"),
                      Path("a.bin")}),
              kExitInvalid);
    EXPECT_NE(err_.find("at most three"), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(Path("q.bin")));
    EXPECT_EQ(FwPack({"--out", Path("q.bin"), Path("missing.bin")}), kExitUsage);
    EXPECT_NE(err_.find("cannot open"), std::string::npos) << err_;
    EXPECT_EQ(FwPack({Path("a.bin")}), kExitUsage);

    // Tests may join anything on purpose.
    ASSERT_EQ(FwPack({"--allow-invalid", "--out", Path("r.bin"), Path("broken.bin"), Path("a.bin"),
                      Path("a.bin"), Path("a.bin")}),
              kExitOk);
    EXPECT_EQ(Read("r.bin").size(), 4u * 1024u);
}

class InspectTest : public ToolsTest {
  protected:
    void SetUp() override {
        ToolsTest::SetUp();
        normal_ = BuildImage(SeededImage("UASP", "1.07", 76044, 1, 0x3C5A96E1, 0x7E2B0D94));
        dsp_ = BuildImage(SeededImage("DSPA", "1.07", 122752, 2, 0x5DA1C3F0, 0x0B96E247));
        Write("good.bin", JoinImages({normal_, dsp_}));
    }
    int InspectBytes(const Bytes& package) {
        Write("package.bin", package);
        return Inspect({Path("package.bin")});
    }
    bool Says(const std::string& text) const { return out_.find(text) != std::string::npos; }
    Bytes normal_, dsp_;
};

TEST_F(InspectTest, ValidPackageReportsEveryImageAndTheSlots) {
    ASSERT_EQ(Inspect({Path("good.bin")}), kExitOk) << out_ << err_;
    EXPECT_TRUE(Says("Package: 198796 bytes"));
    EXPECT_TRUE(Says("Image 1 at offset 0\n  type          Normal\n  magic         \"UASP\""));
    EXPECT_TRUE(Says("Image 2 at offset 76044\n  type          DspMain\n"));
    EXPECT_TRUE(Says("key words     K0 0x3c5a96e1  K1 0x7e2b0d94"));
    EXPECT_TRUE(Says("validation    0 (valid)"));
    EXPECT_TRUE(Says("slot 0 Fwup    empty"));
    EXPECT_TRUE(Says("slot 1 Normal  76044 bytes, version \"1.07\""));
    EXPECT_TRUE(Says("slot 2 DspMain 122752 bytes, version \"1.07\""));
    EXPECT_TRUE(Says("result        1"));
    EXPECT_TRUE(Says("Package is valid."));
    EXPECT_FALSE(Says("MISMATCH"));
}

TEST_F(InspectTest, FlippedBitIsReportedAsInvalid) {
    Bytes package = JoinImages({normal_, dsp_});
    package[76044 + 5000] ^= 0x20;
    EXPECT_EQ(InspectBytes(package), kExitInvalid);
    EXPECT_TRUE(Says("MISMATCH"));
    EXPECT_TRUE(Says("validation    -8 (body checksum mismatch)"));
    EXPECT_TRUE(Says("slot 2 DspMain 122752 bytes, version \"\""));
    EXPECT_TRUE(Says("Package is NOT valid"));

    package = JoinImages({normal_, dsp_});
    package[kAux3Offset] ^= 0x01;
    EXPECT_EQ(InspectBytes(package), kExitInvalid);
    EXPECT_TRUE(Says("validation    -8 (header checksum mismatch)"));
}

TEST_F(InspectTest, TruncatedTrailingAndUnrecognisedContent) {
    Bytes package = JoinImages({normal_, dsp_});
    package.resize(150000);
    EXPECT_EQ(InspectBytes(package), kExitInvalid);
    EXPECT_TRUE(Says("does not fit")) << out_;
    EXPECT_TRUE(Says("claims 122752 bytes, 73956 remain"));
    EXPECT_TRUE(Says("slot 1 Normal  76044 bytes"));
    EXPECT_TRUE(Says("slot 2 DspMain empty"));

    EXPECT_EQ(InspectBytes(Bytes(normal_.begin(), normal_.begin() + 300)), kExitInvalid);
    EXPECT_TRUE(Says("too short for an image header"));
    EXPECT_TRUE(Says("result        0"));

    package = normal_;
    package.resize(package.size() + 10, 0);
    EXPECT_EQ(InspectBytes(package), kExitInvalid);
    EXPECT_TRUE(Says("10 trailing bytes at offset 76044"));

    package = JoinImages({dsp_, normal_});
    package[kMagicOffset] = 'd';
    EXPECT_EQ(InspectBytes(package), kExitInvalid);
    EXPECT_TRUE(Says("unrecognised magic: the loader stops here"));
    EXPECT_TRUE(Says("result        0"));
}

TEST_F(InspectTest, DuplicateAndFourthImagesAreReported) {
    const Bytes small = BuildImage(SeededImage("FWUP", "0.01", 1024, 3, 1, 2));
    EXPECT_EQ(InspectBytes(JoinImages({normal_, normal_})), kExitInvalid);
    EXPECT_TRUE(Says("replaces the Normal image at offset 0"));
    EXPECT_EQ(InspectBytes(JoinImages({small, normal_, dsp_, small})), kExitInvalid);
    EXPECT_TRUE(Says("Image 4 at offset"));
    EXPECT_TRUE(Says("ignored: the loader takes at most three images"));
}

TEST_F(InspectTest, EmptyMissingAndUnreadableFiles) {
    EXPECT_EQ(InspectBytes(Bytes{}), kExitInvalid);
    EXPECT_TRUE(Says("the package is empty"));
    EXPECT_TRUE(Says("result        0"));

    EXPECT_EQ(Inspect({Path("no-such-file.bin")}), kExitUsage);
    EXPECT_NE(err_.find("cannot open"), std::string::npos) << err_;
    EXPECT_EQ(Inspect({Path("")}), kExitUsage) << "a directory is not a package";
    EXPECT_NE(err_.find("directory"), std::string::npos) << err_;
    EXPECT_EQ(Inspect({}), kExitUsage);
    EXPECT_NE(err_.find("usage"), std::string::npos);
    EXPECT_EQ(Inspect({Path("good.bin"), Path("good.bin")}), kExitUsage);
}

}  // namespace
}  // namespace talvo::fwtools
