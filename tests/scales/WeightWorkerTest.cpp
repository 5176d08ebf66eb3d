// The scales reader thread against the simulator at the scales' path.
#include <gtest/gtest.h>
#include <termios.h>

#include <memory>
#include <optional>
#include <string>

#include "ScalesSimulator.h"
#include "ScalesTestSupport.h"
#include "TestSupport.h"
#include "WeightWorker.h"

namespace {

using scalesmod::WeightningData;
using scalesmod::WeightWorker;
using scalessim::Fault;
using scalessim::Reading;
using scalessim::ScalesSimulator;
using scalessim::Step;
using scalestest::kScalesPath;
using scalestest::kScalesPort;
using testsupport::StdoutCapture;
using testsupport::WaitFor;

constexpr int kForever = 1000000;

class ReaderThread : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto reason = scalestest::ScalesPathUnusable()) {
            GTEST_SKIP() << *reason;
        }
    }

    // The simulator at the scales' path, answering `reading` from the start.
    void Plug(const Reading& reading) {
        simulator = std::make_unique<ScalesSimulator>(reading);
        simulator->Link(kScalesPath);
    }

    // Waits until the reader has decoded a reply sent after this call: the reply to the next
    // request is read before the request after it is sent.
    bool NextReplyDecoded() {
        const int requests = simulator->Requests();
        return WaitFor([&] { return simulator->Requests() >= requests + 2; });
    }

    // Waits until `requests` requests after the first step of a script have reached the scales.
    bool ScriptServed(int start, int requests) {
        return WaitFor([&] { return simulator->Requests() >= start + requests; });
    }

    // Waits until the corrected weight is `kilograms`.
    bool Reads(float kilograms) {
        return WaitFor([&] { return worker.getWeightningData().getRealWeight() == kilograms; });
    }

    StdoutCapture out;
    std::unique_ptr<ScalesSimulator> simulator;
    WeightWorker worker;
};

TEST_F(ReaderThread, ZeroesOnTheFirstSettledReplyAfterStart) {
    Plug({2.5, false, 0});
    ASSERT_TRUE(worker.init(kScalesPort));
    ASSERT_TRUE(NextReplyDecoded());
    ASSERT_TRUE(NextReplyDecoded());
    EXPECT_TRUE(worker.getCalibrate()) << "no settled reading yet, so zeroing stays pending";
    EXPECT_EQ(worker.getWeightningData().getRealWeight(), 0.0f) << "unsettled weighs nothing";

    simulator->SetSettled(true);
    ASSERT_TRUE(WaitFor([&] { return !worker.getCalibrate(); }));
    EXPECT_EQ(worker.getWeightningData().CalibrationDifference, 2.5f);
    EXPECT_EQ(worker.getWeightningData().getRealWeight(), 0.0f);
    EXPECT_NE(out.Text().find("Calibrating scales with new coeff: 2.5 on weight 2.5\n"),
              std::string::npos);

    simulator->SetWeight(3.25);
    EXPECT_TRUE(Reads(0.75f));
}

TEST_F(ReaderThread, ZeroingOnRequestAndUnsettledReadings) {
    Plug({1, true, 0});
    ASSERT_TRUE(worker.init(kScalesPort));
    ASSERT_TRUE(WaitFor([&] { return !worker.getCalibrate(); }));
    simulator->SetWeight(3);
    ASSERT_TRUE(Reads(2.0f));

    // Unsettled replies weigh nothing and cannot be the zero.
    simulator->SetSettled(false);
    ASSERT_TRUE(WaitFor([&] { return !worker.getWeightningData().WeightningFinished; }));
    EXPECT_EQ(worker.getWeightningData().getRealWeight(), 0.0f);
    worker.setCalibrate(true);
    ASSERT_TRUE(NextReplyDecoded());
    ASSERT_TRUE(NextReplyDecoded());
    EXPECT_TRUE(worker.getCalibrate());
    EXPECT_EQ(worker.getWeightningData().CalibrationDifference, 1.0f);

    simulator->SetSettled(true);
    ASSERT_TRUE(WaitFor([&] { return !worker.getCalibrate(); }));
    EXPECT_EQ(worker.getWeightningData().CalibrationDifference, 3.0f);
    EXPECT_EQ(worker.getWeightningData().getRealWeight(), 0.0f);
}

// A reply that comes after the reader stopped listening is read in place of the next one;
// what it leaves queued is discarded before the next request, so the reader is back in step
// at once instead of one reply behind for good.
TEST_F(ReaderThread, LateReplyDoesNotShiftTheLaterOnes) {
    Plug({1, true, 0});
    ASSERT_TRUE(worker.init(kScalesPort));
    ASSERT_TRUE(NextReplyDecoded());
    const int start = simulator->Script({{Fault::kLate, 1, Reading{2, true, 0}},
                                         {Fault::kNone, 1, Reading{3, true, 0}},
                                         {Fault::kNone, 1, Reading{4, true, 0}}});
    ASSERT_TRUE(ScriptServed(start, 4));
    EXPECT_TRUE(WaitFor([&] { return worker.getWeightningData().SourceWeight == 4000; }));
    EXPECT_EQ(simulator->GetStatus().staleBytes, 0)
        << "every request went out on a line with nothing left unread";
}

TEST_F(ReaderThread, GarbageLeftOverIsDiscardedBeforeTheNextRequest) {
    Plug({1, true, 0});
    ASSERT_TRUE(worker.init(kScalesPort));
    ASSERT_TRUE(NextReplyDecoded());
    const int start = simulator->Script({{Fault::kGarbage, 1, std::nullopt}});
    ASSERT_TRUE(ScriptServed(start, 2));
    EXPECT_TRUE(WaitFor([&] {
        const WeightningData reading = worker.getWeightningData();
        return reading.WeightningFinished && !reading.WeightNegative &&
               reading.SourceWeight == 1000;
    })) << "aligned on the replies again";
    EXPECT_EQ(simulator->GetStatus().staleBytes, 0);
}

// A reply cut short has lost weight bytes: decoding it would give a wrong weight.
TEST_F(ReaderThread, PartialReplyLeavesThePreviousReading) {
    Plug({1, true, 0});
    ASSERT_TRUE(worker.init(kScalesPort));
    ASSERT_TRUE(NextReplyDecoded());
    // 100 kg has a count of 0x0186A0; its first three bytes alone would read as 0.16 kg.
    const int start = simulator->Script(
        {{Fault::kPartial, 2, Reading{100, true, 0}}, {Fault::kSilent, kForever, std::nullopt}});
    ASSERT_TRUE(ScriptServed(start, 3));
    const WeightningData reading = worker.getWeightningData();
    EXPECT_TRUE(reading.WeightningFinished);
    EXPECT_EQ(reading.SourceWeight, 1000);
}

TEST_F(ReaderThread, DestroyingTheWorkerClosesThePortAsFound) {
    Plug({1, false, 0});
    const struct termios found = scalestest::PtySettings(simulator->SlavePath());
    {
        WeightWorker pending;
        ASSERT_TRUE(pending.init(kScalesPort));
        ASSERT_TRUE(NextReplyDecoded());
        EXPECT_FALSE(scalestest::LockIsFree(kScalesPath));
        EXPECT_TRUE(pending.getCalibrate()) << "a zeroing request still pending is dropped";
    }
    EXPECT_EQ(scalestest::DescriptorsOn(simulator->SlavePath()).size(), 1u)
        << "only the simulator's own";
    EXPECT_TRUE(scalestest::LockIsFree(kScalesPath));
    EXPECT_TRUE(scalestest::SameSettings(scalestest::PtySettings(simulator->SlavePath()), found));
}

TEST_F(ReaderThread, UnpluggedScalesLeaveTheLastReadingAndTheWorkerStillStops) {
    Plug({1.5, true, 0});
    {
        WeightWorker unplugged;
        ASSERT_TRUE(unplugged.init(kScalesPort));
        ASSERT_TRUE(WaitFor([&] { return !unplugged.getCalibrate(); }));
        simulator->SetWeight(2);
        ASSERT_TRUE(WaitFor([&] { return unplugged.getWeightningData().SourceWeight == 2000; }));
        simulator->Unplug();
        EXPECT_EQ(unplugged.getWeightningData().getRealWeight(), 0.5f);
    }
    EXPECT_EQ(scalestest::DescriptorsOn(simulator->SlavePath()).size(), 0u);
}

TEST_F(ReaderThread, NoPortNoThread) {
    StdoutCapture capture;
    scalestest::StderrCapture err;
    {
        WeightWorker missing;
        EXPECT_FALSE(missing.init(kScalesPort));
    }
    EXPECT_EQ(capture.Text(), "Can not open comport\n");
    EXPECT_EQ(err.Text(), "unable to open comport : No such file or directory\n");
}

}  // namespace
