// station-client against the real core: every command, and the exit status for a refused
// request, "STATUS" false and a time-out.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CoreRun.h"
#include "TestSupport.h"

namespace {

using testsupport::ReadFile;

struct ClientRun {
    int status;
    std::string out;
    std::string err;
};

ClientRun Client(const e2e::Station& station, std::vector<std::string> args) {
    args.insert(args.begin(), {"--dir", station.Dir()});
    testsupport::ChildProcess client(CLIENT_BINARY, args);
    const auto status = client.WaitExit();
    EXPECT_TRUE(status.has_value());
    return {status.value_or(-2), client.Output(), client.Errors()};
}

std::string Fixture(const std::string& name) {
    return ReadFile(std::string(SOURCE_DIR) + "/tests/e2e/fixtures/" + name);
}

TEST(StationClient, ServesEveryCommandAgainstTheRunningCore) {
    e2e::Station station;
    auto core = station.Start({"disable_lidar", "disable_scales", "disable_automeasure"});

    ClientRun run = Client(station, {"ping"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Fixture("ping.json"));

    run = Client(station, {"measure"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Fixture("measure_mock.json"));

    run = Client(station, {"calibrate"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Fixture("ping.json"));

    // The defaults hold a MAX_AREA outside its own range, so changing one value alone is
    // refused with "STATUS" false.
    run = Client(station, {"set-config", "MIN_DEPTH=0.5"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\"STATUS\":false"), std::string::npos) << run.out;

    run = Client(station, {"set-config", "MAX_AREA=150000", "DRAW_SIZE=false"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"STATUS\":true"), std::string::npos) << run.out;

    run = Client(station, {"get-config"});
    EXPECT_EQ(run.status, 0) << run.err;
    nlohmann::json expected = nlohmann::json::parse(Fixture("get_configuration_defaults.json"));
    expected["MAX_AREA"] = 150000.0;
    expected["DRAW_SIZE"] = false;
    expected["REGION_OFFSET_X"] = 0;
    expected["REGION_OFFSET_Y"] = 40;
    EXPECT_EQ(nlohmann::json::parse(run.out), expected);

    run = Client(station, {"set-config", "DRAW_SIZE=1"});
    EXPECT_EQ(run.status, 4) << "the core refuses a number for DRAW_SIZE";
    EXPECT_EQ(run.out, "");

    run = Client(station, {"set-config", "NOT_A_PARAMETER=1"});
    EXPECT_EQ(run.status, 2);

    run = Client(station, {"stop"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(core->WaitExit(), 0);
    EXPECT_EQ(ReadFile(station.Path("shutdown.log")), "-P now\n");

    // Nobody answers any more: a time-out, and the request is withdrawn.
    run = Client(station, {"--timeout", "0.3", "ping"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("no response within 0.3 s"), std::string::npos) << run.err;
    EXPECT_FALSE(testsupport::FileExists(station.Path("exchange/request.json")));
}

}  // namespace
