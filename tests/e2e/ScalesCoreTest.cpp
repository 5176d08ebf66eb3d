// The real core process finds the scales simulator at the scales' fixed path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CoreRun.h"
#include "TestSupport.h"
#include "UniqueFd.h"

namespace {

constexpr char kScalesPath[] = "/dev/ttySCALES0";

bool ScalesLockIsFree() {
    UniqueFd fd(open(kScalesPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() && flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

TEST(ScalesCore, CoreOpensTheSimulatedScalesAndZeroesThemAtStart) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the simulator links " << kScalesPath;
    }
    if (testsupport::FileExists(kScalesPath)) {
        GTEST_SKIP() << "something already stands at " << kScalesPath << "; not replacing it";
    }
    testsupport::ChildProcess simulator(SCALES_SIM_BINARY, {"--weight", "2.5"});
    ASSERT_TRUE(simulator.WaitForOutput(std::string(kScalesPath) + " links to /dev/pts/"))
        << simulator.Output() << simulator.Errors();

    e2e::Station station;
    auto core = station.Start({"disable_lidar", "disable_automeasure"});
    EXPECT_TRUE(core->WaitForOutput(std::string("no modem-control lines on ") + kScalesPath +
                                    ", DTR and RTS left alone\n"))
        << core->Output() << core->Errors();
    EXPECT_TRUE(core->WaitForOutput("Calibrating scales with new coeff: 2.5 on weight 2.5\n"))
        << core->Output() << core->Errors();
    EXPECT_FALSE(ScalesLockIsFree()) << "the core holds the port";
    EXPECT_EQ(core->Output().find("SCALES2: Unable to open com port"), std::string::npos);

    core->Signal(SIGKILL);
    EXPECT_EQ(core->WaitExit(), -1);
    EXPECT_TRUE(ScalesLockIsFree()) << "the lock goes with the process";

    simulator.Signal(SIGTERM);
    EXPECT_EQ(simulator.WaitExit(), 0);
    EXPECT_FALSE(testsupport::FileExists(kScalesPath));
}

// What a MEASURE through the client answers, as JSON (null when there was no answer).
nlohmann::json Measure(const e2e::Station& station) {
    testsupport::ChildProcess client(CLIENT_BINARY, {"--dir", station.Dir(), "measure"});
    client.WaitExit();
    const std::string out = client.Output();
    return out.empty() ? nlohmann::json() : nlohmann::json::parse(out);
}

// The reader decodes a new weight within a cycle or two; ask until the answer shows it.
bool MeasuresWeight(const e2e::Station& station, double grams, bool empty) {
    return testsupport::WaitFor([&] {
        const nlohmann::json answer = Measure(station);
        return answer.is_object() && answer["W"] == grams &&
               answer["MEASURE_ERROR_EMPTY_W"] == empty && answer["STATUS"] == true;
    });
}

TEST(ScalesCore, MeasureAnswersTheWeightInGramsAndCalibrateZeroesTheScales) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the simulator links " << kScalesPath;
    }
    if (testsupport::FileExists(kScalesPath)) {
        GTEST_SKIP() << "something already stands at " << kScalesPath << "; not replacing it";
    }
    // The empty platform reads 0.5 kg when the core starts; that becomes its zero.
    testsupport::ChildProcess simulator(SCALES_SIM_BINARY, {"--weight", "0.5"}, "", {}, true);
    ASSERT_TRUE(simulator.WaitForOutput(std::string(kScalesPath) + " links to /dev/pts/"));
    e2e::Station station;
    auto core = station.Start({"disable_lidar", "disable_automeasure"});
    ASSERT_TRUE(core->WaitForOutput("Calibrating scales with new coeff: 0.5 on weight 0.5\n"))
        << core->Output();
    EXPECT_TRUE(MeasuresWeight(station, 0.0, true)) << core->Output();

    ASSERT_TRUE(simulator.Input("weight 2.0\n"));
    EXPECT_TRUE(MeasuresWeight(station, 1500.0, false)) << core->Output();
    const nlohmann::json answer = Measure(station);
    EXPECT_EQ(answer["X"], 123000.0);
    EXPECT_EQ(answer["Z"], 789000.0);

    testsupport::ChildProcess calibrate(CLIENT_BINARY, {"--dir", station.Dir(), "calibrate"});
    ASSERT_EQ(calibrate.WaitExit(), 0) << calibrate.Output() << calibrate.Errors();
    EXPECT_TRUE(core->WaitForOutput("Calibrating scales with new coeff: 2 on weight 2\n"));
    EXPECT_TRUE(MeasuresWeight(station, 0.0, true)) << core->Output();

    ASSERT_TRUE(simulator.Input("weight 2.25\n"));
    EXPECT_TRUE(MeasuresWeight(station, 250.0, false)) << core->Output();

    testsupport::ChildProcess stop(CLIENT_BINARY, {"--dir", station.Dir(), "stop"});
    EXPECT_EQ(stop.WaitExit(), 0);
    EXPECT_EQ(core->WaitExit(), 0);
}

}  // namespace
