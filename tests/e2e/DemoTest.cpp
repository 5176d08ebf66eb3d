// The README's main job, run without a person: the demo station measures the scene's box and
// weighs it on the simulated scales.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>

#include "TestSupport.h"

namespace {

using testsupport::ChildProcess;

nlohmann::json Client(const std::string& demo, const std::string& command) {
    ChildProcess client(CLIENT_BINARY, {"--dir", demo, command});
    client.WaitExit();
    const std::string out = client.Output();
    return out.empty() ? nlohmann::json() : nlohmann::json::parse(out);
}

TEST(Demo, MeasuresTheScenesBoxAndTheSimulatorsWeight) {
    if (testsupport::FileExists("/dev/ttySCALES0")) {
        GTEST_SKIP() << "something already stands at /dev/ttySCALES0; the demo would use it";
    }
    testsupport::TempDir demo;
    ChildProcess station("/bin/bash", {SOURCE_DIR "/scripts/run-station.sh"}, SOURCE_DIR,
                         {{"STATION_BUILD_DIR", BUILD_DIR}, {"STATION_DEMO_DIR", demo.path()}});
    ASSERT_TRUE(station.WaitForOutput("box of 1.25 kg is now in the area", std::chrono::minutes(5)))
        << station.Output() << station.Errors();

    // Without root the demo runs without scales and answers their fixed dummy weight.
    const double weight = geteuid() == 0 ? 1250.0 : 1234567.0;
    nlohmann::json answer;
    ASSERT_TRUE(testsupport::WaitFor([&] {
        answer = Client(demo.path(), "measure");
        return answer.is_object() && answer["W"] == weight && answer["Z"] == 200.0;
    })) << answer
        << station.Output();
    // The box is 300 x 400 x 200 mm. Its outline runs through the centres of its outermost
    // pixels, so each side comes out short by up to two pixels, about 1.3 mm each at its top.
    EXPECT_LE(answer["X"].get<double>(), 300.0);
    EXPECT_GE(answer["X"].get<double>(), 300.0 - 2.7);
    EXPECT_LE(answer["Y"].get<double>(), 400.0);
    EXPECT_GE(answer["Y"].get<double>(), 400.0 - 2.7);
    EXPECT_EQ(answer["STATUS"], true);
    EXPECT_EQ(answer["MEASURE_ERROR_HANDS_DETECTED"], false);

    ChildProcess stop(CLIENT_BINARY, {"--dir", demo.path(), "stop"});
    EXPECT_EQ(stop.WaitExit(), 0);
    EXPECT_EQ(station.WaitExit(std::chrono::minutes(1)), 0) << station.Output();
    EXPECT_EQ(testsupport::ReadFile(demo / "shutdown.log"), "power-off requested: -P now\n");
    EXPECT_FALSE(testsupport::FileExists("/dev/ttySCALES0"));
}

}  // namespace
