// The core program's start and stop as seen from outside: console lines, exit status, files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CoreRun.h"
#include "TestSupport.h"

namespace {

using e2e::Station;
using e2e::StationSettings;

// The lines the process printed, from the first one up to and including `last`.
std::vector<std::string> LinesUpTo(const std::string& output, const std::string& last) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = output.find('\n', start);
        lines.push_back(output.substr(start, end - start));
        if (lines.back() == last || end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> ArgumentLines(const std::string& output) {
    auto lines = LinesUpTo(output, "__none__");
    // Skip the region line; the echo of argument 0 starts the command-line part.
    while (!lines.empty() && lines.front().rfind("0 ", 0) != 0) {
        lines.erase(lines.begin());
    }
    return lines;
}

struct CommandLineCase {
    std::vector<std::string> words;
    std::vector<std::string> expected;  // after the echo of the program name
};

TEST(CoreLifecycle, CommandLineWordsAreEchoedAndHandledInOrder) {
    const CommandLineCase cases[] = {
        {{}, {"CORE: Mode is automeasure"}},
        {{"disable_automeasure", "disable_lidar"},
         {"CORE: Mode is automeasure", "1 disable_automeasure", "CORE: Mode is default",
          "2 disable_lidar", "CORE: Disabling lidar", "CORE: Mode is automeasure"}},
        {{"DISABLE_LIDAR"},
         {"CORE: Mode is automeasure", "1 DISABLE_LIDAR", "CORE: Mode is automeasure"}},
        {{"disable_scales", "disable_scales"},
         {"CORE: Mode is automeasure", "1 disable_scales", "CORE: Disabling scales",
          "CORE: Mode is automeasure", "2 disable_scales", "CORE: Disabling scales",
          "CORE: Mode is automeasure"}},
    };
    for (const CommandLineCase& c : cases) {
        Station station;
        auto core = station.Start(c.words);
        std::vector<std::string> expected{std::string("0 ") + CORE_BINARY};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        ASSERT_TRUE(core->WaitForOutput(expected.back() + "\n"));
        ASSERT_TRUE(testsupport::WaitFor(
            [&] { return ArgumentLines(core->Output()).size() >= expected.size(); }));
        auto lines = ArgumentLines(core->Output());
        lines.resize(expected.size());
        EXPECT_EQ(lines, expected);
    }
}

TEST(CoreLifecycle, BrokenSettingsEndTheProcessBeforeAnythingStarts) {
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"missing", ""},
        {"no jsonfiler table", "[other]\nkey = \"v\"\n"},
        {"bare number", "__replace_width__"},
    };
    for (const auto& c : cases) {
        Station station;
        if (c.content == "__replace_width__") {
            std::string toml = testsupport::ReadFile(station.Path("configs/appconfig.toml"));
            toml.replace(toml.find("RegionWidth = \"680\""), 19, "RegionWidth = 680");
            testsupport::WriteFile(station.Path("configs/appconfig.toml"), toml);
        } else if (c.content.empty()) {
            std::filesystem::remove(station.Path("configs/appconfig.toml"));
        } else {
            testsupport::WriteFile(station.Path("configs/appconfig.toml"), c.content);
        }
        auto core = station.Start({"disable_lidar"});
        ASSERT_EQ(core->WaitExit(), 0) << c.name;
        EXPECT_EQ(core->Output(), "CORE: Failed to parse toml file!\n") << c.name;
        EXPECT_TRUE(std::filesystem::is_empty(station.Path("exchange"))) << c.name;
    }
}

TEST(CoreLifecycle, RegionLineShowsTheValuesAsReadFromTheFile) {
    const struct {
        const char* x;
        const char* y;
        const char* line;
    } cases[] = {
        {"12.9", "-3.7", "CORE: 22Region Offset found X=12.9 Y=-3.7"},
        {"0", "12.5", "CORE: 22Region Offset found X=0 Y=12.5"},
        {"1000000", "40px", "CORE: 22Region Offset found X=1e+06 Y=40"},
    };
    for (const auto& c : cases) {
        StationSettings settings;
        settings.regionOffsetX = c.x;
        settings.regionOffsetY = c.y;
        Station station(settings);
        auto core = station.Start({"disable_automeasure"});
        ASSERT_EQ(core->WaitExit(), 0);
        EXPECT_EQ(LinesUpTo(core->Output(), "").front(), c.line);
    }
}

// Without a camera the vision service ends at once, and the process stops in order.
TEST(CoreLifecycle, StopsInOrderWithTheBannerWhenVisionEnds) {
    Station station;
    auto core = station.Start({"disable_automeasure", "disable_scales"});
    ASSERT_EQ(core->WaitExit(), 0);
    const std::string output = core->Output();
    const std::string banner =
        "\n\n\nCORE: ---------------------------SHUTDOWN DEVICE---------------------------\n\n\n";
    const auto exiting = output.find("CORE: APPLICATION EXITING\n");
    ASSERT_NE(exiting, std::string::npos) << output;
    ASSERT_GE(output.size(), banner.size());
    EXPECT_EQ(output.substr(output.size() - banner.size()), banner);
    EXPECT_LT(exiting, output.size() - banner.size());
    EXPECT_NE(core->Errors().find("ERROR[VISION MODULE] : Can't init.\n"), std::string::npos);
    EXPECT_FALSE(testsupport::FileExists(station.Path("shutdown.log")))
        << "the board must stay on when vision ends by itself";
}

// A thread that cannot be created (the process limit of an unprivileged user is reached) ends
// the process with a line that says so.
TEST(CoreLifecycle, ThreadThatCannotStartEndsTheProcessWithAReason) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer starts a thread of its own, so the limit cannot be aimed";
#endif
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the core as an unprivileged user with a process limit";
    }
    Station station;
    chmod(station.Dir().c_str(), 0755);
    // setpriv drops to nobody; prlimit then allows that user only the process's main thread.
    testsupport::ChildProcess core(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/prlimit", "--nproc=1",
         CORE_BINARY, "disable_automeasure", "disable_lidar", "disable_scales"},
        station.Dir(), {{"ASAN_OPTIONS", "detect_leaks=0"}});  // the leak check needs a thread
    const auto status = core.WaitExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_NE(core.Output().find("CORE: Unable to start the request server thread: "),
              std::string::npos)
        << core.Output() << core.Errors();
}

}  // namespace
