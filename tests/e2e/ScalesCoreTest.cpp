// The real core process finds the scales simulator at the scales' fixed path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

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

}  // namespace
