#include <gtest/gtest.h>

#include <string>

#include "CoreParams.h"
#include "SettingsFile.h"
#include "TestSupport.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

const char* kPathKeys = R"(
RequestJsonFilePath = "req.json"
ResponseJsonFilePath = "resp.json"
RequestTempJsonFilePath = "req.tmp"
ResponseTempJsonFilePath = "resp.tmp"
AutomesureTempJsonFilePath = "auto.tmp"
AutomesureJsonFilePath = "auto.json"
MockPngFile = "mock.png"
MockPngFile2 = "mock2.png"
PhotoPath = "photo.png"
)";

std::string Settings(const std::string& offsetX, const std::string& extra = "") {
    return "[jsonfiler]\n" + std::string(kPathKeys) + "RegionOffsetX = " + offsetX +
           "\nRegionOffsetY = \"-3.7\"\nRegionWidth = \"680\"\nRegionHeight = \"550\"\n" + extra;
}

struct SettingsCase {
    const char* name;
    std::string content;
    bool loads;
    float offsetX;  // checked when the file loads
};

void PrintTo(const SettingsCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingsFileTable : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsFileTable, LoadsOrRefuses) {
    const SettingsCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "appconfig.toml";
    WriteFile(path, c.content);
    CoreParams& params = *CoreParams::getInstance();
    ASSERT_EQ(LoadSettingsFile(path, params), c.loads);
    if (c.loads) {
        EXPECT_EQ(params.RegionOffsetX, c.offsetX);
        EXPECT_EQ(params.RegionOffsetY, -3.7f);
        EXPECT_EQ(params.RegionWidth, 680.0f);
        EXPECT_EQ(params.RegionHeight, 550.0f);
        EXPECT_EQ(params.PhotoPath, "photo.png");
    }
}

std::string WithoutKey(const std::string& key) {
    std::string content = Settings("\"1\"");
    const auto start = content.find(key + " =");
    content.erase(start, content.find('\n', start) - start + 1);
    return content;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileTable,
    ::testing::Values(
        SettingsCase{"AllKeys", Settings("\"12\""), true, 12.0f},
        SettingsCase{"TrailingText", Settings("\"12.5mm\""), true, 12.5f},
        SettingsCase{"LeadingBlanks", Settings("\"  7\""), true, 7.0f},
        SettingsCase{"ExtraKeysAndTables",
                     Settings("\"1\"", "Other = 3\n[elsewhere]\nkey = \"v\"\n"), true, 1.0f},
        SettingsCase{"BareNumber", Settings("12"), false, 0},
        SettingsCase{"NoLeadingNumber", Settings("\"mm12\""), false, 0},
        SettingsCase{"EmptyRegionValue", Settings("\"\""), false, 0},
        SettingsCase{"FloatOverflow", Settings("\"1e39\""), false, 0},
        SettingsCase{"FloatUnderflow", Settings("\"1e-50\""), false, 0},
        SettingsCase{"MissingPathKey", WithoutKey("RequestTempJsonFilePath"), false, 0},
        SettingsCase{"MissingRegionKey", WithoutKey("RegionHeight"), false, 0},
        SettingsCase{"KeyOfOtherCase",
                     [] {
                         std::string s = Settings("\"1\"");
                         s.replace(s.find("PhotoPath"), 9, "photopath");
                         return s;
                     }(),
                     false, 0},
        SettingsCase{"NoJsonfilerTable",
                     Settings("\"1\"").substr(std::string("[jsonfiler]\n").size()), false, 0},
        SettingsCase{"JsonfilerNotATable", "jsonfiler = \"x\"\n", false, 0},
        SettingsCase{"NotToml", "this is { not toml", false, 0},
        SettingsCase{"EmptyFile", "", false, 0}),
    [](const ::testing::TestParamInfo<SettingsCase>& param) { return param.param.name; });

TEST(SettingsFile, EmptyPathsAreAccepted) {
    TempDir dir;
    std::string content = "[jsonfiler]\n";
    for (const char* key :
         {"RequestJsonFilePath", "ResponseJsonFilePath", "RequestTempJsonFilePath",
          "ResponseTempJsonFilePath", "AutomesureTempJsonFilePath", "AutomesureJsonFilePath",
          "MockPngFile", "MockPngFile2", "PhotoPath"}) {
        content += std::string(key) + " = \"\"\n";
    }
    content +=
        "RegionOffsetX = \"0\"\nRegionOffsetY = \"0\"\nRegionWidth = \"1\"\n"
        "RegionHeight = \"2\"\n";
    WriteFile(dir / "appconfig.toml", content);
    CoreParams& params = *CoreParams::getInstance();
    ASSERT_TRUE(LoadSettingsFile(dir / "appconfig.toml", params));
    EXPECT_EQ(params.RequestJsonFilePath, "");
    EXPECT_EQ(params.PhotoPath, "");
    EXPECT_EQ(params.RegionHeight, 2.0f);
}

TEST(SettingsFile, MissingFileIsRefused) {
    TempDir dir;
    EXPECT_FALSE(LoadSettingsFile(dir / "absent.toml", *CoreParams::getInstance()));
}

TEST(SettingsFile, ShippedSettingsLoad) {
    EXPECT_TRUE(LoadSettingsFile(SOURCE_DIR "/configs/appconfig.toml", *CoreParams::getInstance()));
}

}  // namespace
