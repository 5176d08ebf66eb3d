// The scales-sim program as a person runs it: options, commands on standard input, its link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ScalesSimulator.h"
#include "ScalesTestSupport.h"
#include "TestSupport.h"
#include "UniqueFd.h"

namespace {

using scalestest::QueuedInput;
using testsupport::ChildProcess;
using testsupport::TempDir;
using testsupport::WaitFor;
using Bytes = std::vector<unsigned char>;

// One request on the line at `path` and the five bytes of its reply.
Bytes Ask(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid() || write(fd.get(), "J", 1) != 1 ||
        !WaitFor([&] { return QueuedInput(fd.get()) >= 5; })) {
        return {};
    }
    Bytes reply(5);
    return read(fd.get(), reply.data(), 5) == 5 ? reply : Bytes{};
}

TEST(ScalesSimProgram, AnswersAsToldOnItsCommandLineAndStandardInput) {
    TempDir dir;
    const std::string path = dir / "scales";
    ChildProcess sim(SCALES_SIM_BINARY,
                     {"--weight", "1.25", "--settled", "1", "--code", "0", "--link=" + path}, "",
                     {}, true);
    ASSERT_TRUE(sim.WaitForOutput(path + " links to /dev/pts/")) << sim.Output() << sim.Errors();
    EXPECT_EQ(Ask(path), scalessim::EncodeReply({1.25, true, 0}));

    ASSERT_TRUE(sim.Input("weight -0.2\nsettled 0\ncode 4\n"));
    ASSERT_TRUE(sim.WaitForOutput("scales-sim: weight -0.2 kg, not settled, code 4, fault none"))
        << sim.Output();
    EXPECT_EQ(Ask(path), scalessim::EncodeReply({-0.2, false, 4}));

    ASSERT_TRUE(sim.Input("fault partial 2\n"));
    ASSERT_TRUE(sim.WaitForOutput("fault partial for 2, 2 requests"));
    ASSERT_TRUE(sim.Input("fault none\nweigh 3\nfault sometimes\nstatus\n"));
    ASSERT_TRUE(sim.WaitForOutput("fault none, 2 requests, 0 stale bytes\n"));
    EXPECT_TRUE(sim.WaitForOutput("scales-sim: cannot understand 'weigh 3'\n"));
    EXPECT_TRUE(sim.WaitForOutput("scales-sim: cannot understand 'fault sometimes'\n"));

    ASSERT_TRUE(sim.Input("unplug\n"));
    ASSERT_TRUE(sim.WaitForOutput("scales-sim: unplugged, "));
    EXPECT_FALSE(testsupport::FileExists(path));

    ASSERT_TRUE(sim.Input("quit\n"));
    EXPECT_EQ(sim.WaitExit(), 0);
    EXPECT_NE(sim.Output().find("scales-sim: stopped\n"), std::string::npos);
}

TEST(ScalesSimProgram, RemovesItsLinkWhenStoppedBySignal) {
    for (int stop : {SIGTERM, SIGINT}) {
        TempDir dir;
        const std::string path = dir / "scales";
        // Without commands: the end of its input does not end it.
        ChildProcess sim(SCALES_SIM_BINARY, {"--link=" + path});
        ASSERT_TRUE(sim.WaitForOutput("links to"));
        EXPECT_EQ(Ask(path), scalessim::EncodeReply({0, true, 0}));
        sim.Signal(stop);
        EXPECT_EQ(sim.WaitExit(), 0);
        EXPECT_FALSE(testsupport::FileExists(path)) << strsignal(stop);
    }
}

TEST(ScalesSimProgram, RefusesToReplaceWhatStandsAtItsLinkPath) {
    TempDir dir;
    const std::string path = dir / "scales";
    testsupport::WriteFile(path, "a real device");
    ChildProcess sim(SCALES_SIM_BINARY, {"--link=" + path});
    EXPECT_EQ(sim.WaitExit(), 1);
    EXPECT_EQ(sim.Errors(),
              "scales-sim: something already stands at " + path + "; not replacing it\n");
    EXPECT_EQ(testsupport::ReadFile(path), "a real device");
}

TEST(ScalesSimProgram, RejectsUnknownOptions) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--weight"},
                                               {"--weight", "heavy"},
                                               {"--code", "256"},
                                               {"--settled", "2"},
                                               {"--colour"}}) {
        ChildProcess sim(SCALES_SIM_BINARY, args);
        EXPECT_EQ(sim.WaitExit(), 2) << args[0];
        EXPECT_EQ(sim.Errors().rfind("usage: scales-sim", 0), 0u) << sim.Errors();
    }
}

}  // namespace
