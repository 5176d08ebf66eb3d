#include "CoreRun.h"

#include <sys/stat.h>

namespace e2e {

Station::Station(const StationSettings& settings) {
    mkdir(Path("configs").c_str(), 0755);
    mkdir(Path("exchange").c_str(), 0755);
    std::map<std::string, std::string> paths = {
        {"RequestJsonFilePath", "exchange/request.json"},
        {"ResponseJsonFilePath", "exchange/response.json"},
        {"RequestTempJsonFilePath", "exchange/request.json.tmp"},
        {"ResponseTempJsonFilePath", "exchange/response.json.tmp"},
        {"AutomesureTempJsonFilePath", "exchange/automeasure.json.tmp"},
        {"AutomesureJsonFilePath", "exchange/automeasure.json"},
        {"MockPngFile", "configs/mock.png"},
        {"MockPngFile2", "exchange/mock.png.tmp"},
        {"PhotoPath", "exchange/photo.png"},
    };
    for (const auto& [key, value] : settings.pathOverrides) {
        paths[key] = value;
    }
    std::string toml = "[jsonfiler]\n";
    for (const auto& [key, value] : paths) {
        toml += key + " = \"" + value + "\"\n";
    }
    toml += "RegionOffsetX = \"" + settings.regionOffsetX + "\"\n";
    toml += "RegionOffsetY = \"" + settings.regionOffsetY + "\"\n";
    toml += "RegionWidth = \"" + settings.regionWidth + "\"\n";
    toml += "RegionHeight = \"" + settings.regionHeight + "\"\n";
    testsupport::WriteFile(Path("configs/appconfig.toml"), toml);
    testsupport::WriteFile(Path("configs/mock.png"), "mock picture\nsecond line");

    testsupport::WriteFile(Path("shutdown"), "#!/bin/sh\necho \"$@\" >> shutdown.log\n");
    chmod(Path("shutdown").c_str(), 0755);
}

std::unique_ptr<testsupport::ChildProcess> Station::Start(
    const std::vector<std::string>& words,
    const std::map<std::string, std::string>& extraEnv) const {
    return std::make_unique<testsupport::ChildProcess>(CORE_BINARY, words, dir_.path(), extraEnv);
}

}  // namespace e2e
