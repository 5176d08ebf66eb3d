// The installed tree and the Debian package hold what the systemd unit expects, and the installed
// programs serve a request.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "CoreParams.h"
#include "CoreRun.h"
#include "SettingsFile.h"
#include "TestSupport.h"

namespace {

using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::TempDir;

// The unit's "Key=Value" lines.
std::map<std::string, std::string> UnitSettings(const std::string& path) {
    std::map<std::string, std::string> settings;
    std::istringstream unit(ReadFile(path));
    for (std::string line; std::getline(unit, line);) {
        const auto equals = line.find('=');
        if (!line.empty() && line[0] != '#' && equals != std::string::npos) {
            settings[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return settings;
}

bool IsExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IXUSR);
}

class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        ChildProcess install("/usr/bin/cmake", {"--install", BUILD_DIR}, "",
                             {{"DESTDIR", root.path()}});
        ASSERT_EQ(install.WaitExit(), 0) << install.Output() << install.Errors();
        const std::string unitPath =
            root.path() + INSTALL_PREFIX "/lib/systemd/system/boxstation.service";
        ASSERT_TRUE(testsupport::FileExists(unitPath)) << install.Output();
        unit = UnitSettings(unitPath);
    }

    std::string Staged(const std::string& path) const { return root.path() + path; }

    TempDir root;
    std::map<std::string, std::string> unit;
};

TEST_F(Installed, TreeHoldsWhatTheUnitExpects) {
    EXPECT_EQ(unit["Restart"], "always");
    EXPECT_EQ(unit["StandardOutput"], "journal");
    EXPECT_EQ(unit["StandardError"], "journal");
    EXPECT_EQ(unit["WantedBy"], "multi-user.target");

    const std::string core = unit["ExecStart"];
    ASSERT_EQ(core.front(), '/');
    EXPECT_TRUE(IsExecutableFile(Staged(core))) << core;

    const std::string workdir = unit["WorkingDirectory"];
    ASSERT_EQ(workdir.front(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(Staged(workdir + "/exchange")));
    EXPECT_TRUE(testsupport::FileExists(Staged(workdir + "/configs/mock.png")));

    // The settings are reached through a link to the system's settings directory.
    const std::string link = Staged(workdir + "/configs/appconfig.toml");
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    const std::string settings = std::filesystem::read_symlink(link);
    ASSERT_EQ(settings.front(), '/');
    EXPECT_TRUE(LoadSettingsFile(Staged(settings), *CoreParams::getInstance()));

    // The power-off command "/bin/sh shutdown -P now" finds the script in the working directory.
    const std::string shutdown = Staged(workdir + "/shutdown");
    EXPECT_TRUE(IsExecutableFile(shutdown));
    EXPECT_NE(ReadFile(shutdown).find("exec /sbin/shutdown \"$@\""), std::string::npos);

    EXPECT_TRUE(testsupport::FileExists(
        Staged(INSTALL_PREFIX "/share/boxstation/udev/99-boxstation-scales.rules")));
}

TEST_F(Installed, InstalledProgramsServeARequest) {
    const std::string core = Staged(unit["ExecStart"]);
    const std::string client = Staged(INSTALL_PREFIX "/bin/station-client");
    e2e::Station station;
    ChildProcess running(core, {"disable_lidar", "disable_scales", "disable_automeasure"},
                         station.Dir());
    ChildProcess ping(client, {"--dir", station.Dir(), "ping"});
    ASSERT_EQ(ping.WaitExit(), 0) << ping.Errors() << running.Output();
    EXPECT_NE(ping.Output().find("\"STATUS\":true"), std::string::npos);
    ChildProcess stop(client, {"--dir", station.Dir(), "stop"});
    EXPECT_EQ(stop.WaitExit(), 0);
    EXPECT_EQ(running.WaitExit(), 0);
}

TEST(DebianPackage, HoldsTheProgramUnitSettingsAndWorkingDirectory) {
    TempDir out;
    ChildProcess cpack("/usr/bin/cpack",
                       {"--config", BUILD_DIR "/CPackConfig.cmake", "-B", out.path()});
    ASSERT_EQ(cpack.WaitExit(std::chrono::minutes(5)), 0) << cpack.Output() << cpack.Errors();
    std::string deb;
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
        if (entry.path().extension() == ".deb") {
            deb = entry.path();
        }
    }
    ASSERT_FALSE(deb.empty()) << cpack.Output();
    ChildProcess contents("/usr/bin/dpkg-deb", {"--contents", deb});
    ASSERT_EQ(contents.WaitExit(), 0);
    for (const std::string entry :
         {INSTALL_PREFIX "/libexec/boxstation/core", INSTALL_PREFIX "/bin/station-client",
          INSTALL_PREFIX "/lib/systemd/system/boxstation.service", "/boxstation/appconfig.toml",
          "/lib/boxstation/shutdown", "/lib/boxstation/exchange/"}) {
        EXPECT_NE(contents.Output().find(entry), std::string::npos) << entry << "\n"
                                                                    << contents.Output();
    }
    ChildProcess control("/usr/bin/dpkg-deb", {"--field", deb, "Package", "Depends"});
    ASSERT_EQ(control.WaitExit(), 0);
    EXPECT_NE(control.Output().find("Package: boxstation-core"), std::string::npos);
}

}  // namespace
