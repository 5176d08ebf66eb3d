// The scales simulator seen from the serial line: replies, faults on count, its link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ScalesSimulator.h"
#include "ScalesTestSupport.h"
#include "TestSupport.h"
#include "UniqueFd.h"

namespace {

using scalessim::Fault;
using scalessim::Reading;
using scalessim::ScalesSimulator;
using scalessim::Step;
using scalestest::QueuedInput;
using testsupport::WaitFor;
using Bytes = std::vector<unsigned char>;

// The serial line's user end, opened on the simulator's pseudo-terminal.
class Line {
  public:
    explicit Line(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}

    bool Send(const std::string& bytes) {
        return write(fd_.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Waits until `count` bytes have arrived and takes everything that has.
    Bytes Receive(size_t count) {
        WaitFor([&] { return QueuedInput(fd_.get()) >= static_cast<int>(count); });
        Bytes bytes(static_cast<size_t>(QueuedInput(fd_.get())));
        const ssize_t n = read(fd_.get(), bytes.data(), bytes.size());
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }

    int fd() const { return fd_.get(); }

  private:
    UniqueFd fd_;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(ScalesSimulator, RepliesReportWeightSettledFlagAndCode) {
    const struct {
        Reading reading;
        Bytes reply;
    } cases[] = {
        {{1.25, true, 0}, {0xA0, 0x00, 0xE2, 0x04, 0x00}},
        {{0, true, 0}, {0xC0, 0x00, 0x00, 0x00, 0x00}},
        {{-0.2, true, 0}, {0xA0, 0x00, 0xC8, 0x00, 0x80}},
        {{0.0125, true, 1}, {0xA0, 0x01, 0x7D, 0x00, 0x00}},
        {{-100, true, 4}, {0xA0, 0x04, 0x10, 0x27, 0x80}},
        {{2.5, false, 0}, {0x20, 0x00, 0xC4, 0x09, 0x00}},
        {{5, true, 2}, {0xA0, 0x02, 0x05, 0x00, 0x00}},
        // Beyond the largest count the scales can report.
        {{10000, true, 0}, {0xA0, 0x00, 0xFF, 0xFF, 0x7F}},
    };
    ScalesSimulator simulator;
    Line line(simulator.SlavePath());
    for (const auto& c : cases) {
        EXPECT_EQ(scalessim::EncodeReply(c.reading), c.reply);
        simulator.SetWeight(c.reading.weightKg);
        simulator.SetSettled(c.reading.settled);
        simulator.SetCode(c.reading.code);
        ASSERT_TRUE(line.Send("J"));
        EXPECT_EQ(line.Receive(5), c.reply) << c.reading.weightKg;
    }
    // Bytes other than the request byte are not requests.
    const int before = simulator.Requests();
    ASSERT_TRUE(line.Send("xyz\nJ"));
    EXPECT_EQ(line.Receive(5), cases[7].reply);
    EXPECT_EQ(simulator.Requests(), before + 1);
}

TEST(ScalesSimulator, FaultsApplyToTheNextRequestsOnly) {
    const Bytes a = scalessim::EncodeReply({1, true, 0});
    const Bytes b = scalessim::EncodeReply({2, true, 0});
    const Bytes garbage = {0xFF, 0x13, 0x37, 0xFF, 0xFF, 0x5A, 0xA5};
    const struct {
        const char* name;
        std::vector<Step> steps;
        int requests;
        Bytes stream;
    } cases[] = {
        {"none", {}, 2, Concat({a, a})},
        {"silent", {{Fault::kSilent, 2, {}}}, 3, a},
        {"partial",
         {{Fault::kPartial, 2, {}}},
         3,
         Concat({{a[0], a[1], a[2]}, {a[0], a[1], a[2]}, a})},
        {"garbage", {{Fault::kGarbage, 1, {}}}, 2, Concat({garbage, a})},
        // The held reply comes ahead of the next one.
        {"late",
         {{Fault::kLate, 1, {}}, {Fault::kNone, 1, Reading{2, true, 0}}},
         2,
         Concat({a, b})},
        {"late twice",
         {{Fault::kLate, 2, {}}, {Fault::kNone, 1, Reading{2, true, 0}}},
         3,
         Concat({a, a, b})},
    };
    for (const auto& c : cases) {
        ScalesSimulator simulator({1, true, 0});
        Line line(simulator.SlavePath());
        simulator.Script(c.steps);
        for (int request = 0; request < c.requests; ++request) {
            ASSERT_TRUE(line.Send("J"));
        }
        EXPECT_EQ(line.Receive(c.stream.size()), c.stream) << c.name;
        EXPECT_EQ(simulator.GetStatus().fault, Fault::kNone) << c.name;
    }
}

TEST(ScalesSimulator, LateReplyWaitsForTheNextRequest) {
    ScalesSimulator simulator({1, true, 0});
    Line line(simulator.SlavePath());
    simulator.SetFault(Fault::kLate, 1);
    ASSERT_TRUE(line.Send("J"));
    ASSERT_TRUE(WaitFor([&] { return simulator.Requests() == 1; }));
    EXPECT_EQ(QueuedInput(line.fd()), 0);
    ASSERT_TRUE(line.Send("J"));
    const Bytes reply = scalessim::EncodeReply({1, true, 0});
    EXPECT_EQ(line.Receive(10), Concat({reply, reply}));
}

TEST(ScalesSimulator, StatusCountsFaultsRequestsAndUnreadBytes) {
    ScalesSimulator simulator({1, true, 0});
    Line line(simulator.SlavePath());
    simulator.SetFault(Fault::kSilent, 3);
    EXPECT_EQ(simulator.GetStatus().fault, Fault::kSilent);
    EXPECT_EQ(simulator.GetStatus().faultCount, 3);
    ASSERT_TRUE(line.Send("J"));
    ASSERT_TRUE(WaitFor([&] { return simulator.GetStatus().faultCount == 2; }));
    simulator.SetFault(Fault::kNone, 0);
    EXPECT_EQ(simulator.GetStatus().fault, Fault::kNone);

    // A request sent over a reply that was never read.
    ASSERT_TRUE(line.Send("J"));
    ASSERT_TRUE(WaitFor([&] { return QueuedInput(line.fd()) == 5; }));
    EXPECT_EQ(simulator.GetStatus().staleBytes, 0);
    ASSERT_TRUE(line.Send("J"));
    ASSERT_TRUE(WaitFor([&] { return simulator.Requests() == 3; }));
    EXPECT_EQ(simulator.GetStatus().staleBytes, 5);
}

TEST(ScalesSimulator, UnpluggedScalesTakeTheirLineAway) {
    testsupport::TempDir dir;
    ScalesSimulator simulator({1, true, 0});
    simulator.Link(dir / "scales");
    Line line(dir / "scales");
    ASSERT_TRUE(line.Send("J"));
    ASSERT_EQ(line.Receive(5).size(), 5u);

    simulator.Unplug();
    EXPECT_TRUE(simulator.GetStatus().unplugged);
    EXPECT_FALSE(testsupport::FileExists(dir / "scales"));
    const ssize_t written = write(line.fd(), "J", 1);
    const int error = errno;
    EXPECT_EQ(written, -1);
    EXPECT_EQ(error, EIO) << "the line has hung up";
}

TEST(ScalesSimulator, LinksOnlyWhereNothingStandsAndRemovesOnlyItsOwnLink) {
    testsupport::TempDir dir;
    const std::string path = dir / "scales";
    {
        ScalesSimulator simulator;
        simulator.Link(path);
        EXPECT_EQ(std::filesystem::read_symlink(path), simulator.SlavePath());
        ScalesSimulator second;
        try {
            second.Link(path);
            ADD_FAILURE() << "a second link replaced the first";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()),
                      "something already stands at " + path + "; not replacing it");
        }
        EXPECT_EQ(std::filesystem::read_symlink(path), simulator.SlavePath());
    }
    EXPECT_FALSE(testsupport::FileExists(path)) << "the link goes with the simulator";

    testsupport::WriteFile(path, "a real device");
    {
        ScalesSimulator simulator;
        EXPECT_THROW(simulator.Link(path), std::runtime_error);
    }
    EXPECT_EQ(testsupport::ReadFile(path), "a real device");

    std::filesystem::remove(path);
    {
        ScalesSimulator simulator;
        simulator.Link(path);
        // Someone else put something there meanwhile: it is not ours to remove.
        std::filesystem::remove(path);
        std::filesystem::create_symlink("/dev/null", path);
    }
    EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/null");
}

}  // namespace
