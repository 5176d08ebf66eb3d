#include "SettingsFile.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <toml.hpp>

namespace {

// strtof rules: leading blanks skipped, the longest numeric prefix taken, the rest ignored.
float RegionNumber(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(begin, &end);
    if (end == begin || errno == ERANGE) {
        throw std::invalid_argument("region value is not a float: " + text);
    }
    return value;
}

}  // namespace

bool LoadSettingsFile(const std::string& path, CoreParams& params) {
    try {
        const auto document = toml::parse(path);
        const auto& table = toml::find(document, "jsonfiler");
        const auto text = [&table](const char* key) { return toml::find<std::string>(table, key); };

        params.RequestJsonFilePath = text("RequestJsonFilePath");
        params.ResponseJsonFilePath = text("ResponseJsonFilePath");
        params.RequestTempJsonFilePath = text("RequestTempJsonFilePath");
        params.ResponseTempJsonFilePath = text("ResponseTempJsonFilePath");
        params.AutomesureTempJsonFilePath = text("AutomesureTempJsonFilePath");
        params.AutomesureJsonFilePath = text("AutomesureJsonFilePath");
        params.MockPngFile = text("MockPngFile");
        params.MockPngFile2 = text("MockPngFile2");
        params.PhotoPath = text("PhotoPath");
        params.RegionOffsetX = RegionNumber(text("RegionOffsetX"));
        params.RegionOffsetY = RegionNumber(text("RegionOffsetY"));
        params.RegionWidth = RegionNumber(text("RegionWidth"));
        params.RegionHeight = RegionNumber(text("RegionHeight"));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
