// The scales service with scales: weighing and zeroing requests served from the simulator.
#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <memory>
#include <string>

#include "CoreParams.h"
#include "Measurement.h"
#include "Scales2.h"
#include "ScalesSimulator.h"
#include "ScalesTestSupport.h"
#include "TestSupport.h"

namespace {

using scalessim::Reading;
using scalessim::ScalesSimulator;
using scalestest::kScalesPath;
using testsupport::StdoutCapture;
using testsupport::WaitFor;

class ScalesService : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto reason = scalestest::ScalesPathUnusable()) {
            GTEST_SKIP() << *reason;
        }
        params->APPLICATION_STOP_REQUEST = false;
        record->is_scaled = true;
        record->is_scales_calibrated = true;
        record->SERVER_ERROR_NO_SCALES = false;
    }

    void TearDown() override {
        if (run.valid()) {
            params->APPLICATION_STOP_REQUEST = true;
            run.get();
        }
        params->APPLICATION_STOP_REQUEST = false;
        record->MEASURE_ERROR_EMPTY_W = false;
    }

    void Start(const Reading& reading) {
        simulator = std::make_unique<ScalesSimulator>(reading);
        simulator->Link(kScalesPath);
        run = std::async(std::launch::async, [] { return scalesmod::Scales2().Run(false); });
    }

    // Sets the scales' reading and waits until the reader has decoded it.
    bool Load(const Reading& reading) {
        simulator->SetWeight(reading.weightKg);
        simulator->SetSettled(reading.settled);
        simulator->SetCode(reading.code);
        const int requests = simulator->Requests();
        return WaitFor([&] { return simulator->Requests() >= requests + 2; });
    }

    bool Weigh() {
        record->is_scaled = false;
        return WaitFor([&] { return record->is_scaled.load(); });
    }

    CoreParams* params = CoreParams::getInstance();
    Measurement* record = Measurement::getInstance();
    StdoutCapture out;
    std::unique_ptr<ScalesSimulator> simulator;
    std::future<int> run;
};

TEST_F(ScalesService, AnswersWeighingInGramsWithTheEmptyWeightFlag) {
    Start({0, true, 1});
    ASSERT_TRUE(out.WaitForText("Calibrating scales with new coeff: 0 on weight 0\n"));
    const struct {
        Reading reading;
        float grams;
        bool empty;
        const char* line;
    } cases[] = {
        {{0.0125, true, 1}, 12.5f, false, "SCALES2: RealWeight = 0.0125\n"},
        {{0.0005, true, 1}, 0, true, "SCALES2: RealWeight = 0.0005\n"},
        {{2.5, true, 0}, 2500, false, "SCALES2: RealWeight = 2.5\n"},
        {{-0.2, true, 0}, 0, true, "SCALES2: RealWeight = -0.2\n"},
        {{0.001, true, 0}, 1, false, "SCALES2: RealWeight = 0.001\n"},
        {{2.5, false, 0}, 0, true, "SCALES2: RealWeight = 0\n"},
    };
    // Each answer differs from the one before, so it comes from the new reading.
    for (const auto& c : cases) {
        ASSERT_TRUE(Load(c.reading));
        EXPECT_TRUE(WaitFor([&] {
            return Weigh() && std::fabs(record->weight - c.grams) < 1e-4f &&
                   record->MEASURE_ERROR_EMPTY_W == c.empty;
        })) << c.reading.weightKg
            << " kg gave " << record->weight << " g";
        EXPECT_TRUE(out.WaitForText(c.line)) << c.line;
    }
}

TEST_F(ScalesService, ZeroingIsConfirmedAtOnceAndDoneOnTheNextSettledReading) {
    Start({1, true, 0});
    ASSERT_TRUE(
        WaitFor([&] { return out.Text().find("Calibrating scales") != std::string::npos; }));
    ASSERT_TRUE(Load({3, true, 0}));
    EXPECT_TRUE(WaitFor([&] { return Weigh() && record->weight == 2000; }));

    // While the scales are unsettled the zeroing cannot happen, yet it is confirmed.
    ASSERT_TRUE(Load({3, false, 0}));
    record->is_scales_calibrated = false;
    ASSERT_TRUE(WaitFor([&] { return record->is_scales_calibrated.load(); }));
    ASSERT_TRUE(Load({3, false, 0}));
    EXPECT_EQ(out.Text().find("Calibrating scales with new coeff: 3"), std::string::npos);

    ASSERT_TRUE(Load({3, true, 0}));
    ASSERT_TRUE(out.WaitForText("Calibrating scales with new coeff: 3 on weight 3\n"));
    ASSERT_TRUE(Load({3, true, 0}));
    ASSERT_TRUE(Weigh());
    EXPECT_EQ(record->weight, 0);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_W);
}

TEST_F(ScalesService, StopFlagEndsTheLoopAndClosesThePort) {
    Start({1, true, 0});
    ASSERT_TRUE(Weigh());
    EXPECT_FALSE(scalestest::LockIsFree(kScalesPath));
    params->APPLICATION_STOP_REQUEST = true;
    EXPECT_EQ(run.get(), 1);
    EXPECT_EQ(scalestest::DescriptorsOn(simulator->SlavePath()).size(), 1u)
        << "only the simulator's own";
    EXPECT_TRUE(scalestest::LockIsFree(kScalesPath));
    EXPECT_FALSE(record->SERVER_ERROR_NO_SCALES);
}

TEST_F(ScalesService, WithoutAPortTheServiceReportsNoScalesAndEnds) {
    scalestest::StderrCapture err;
    record->is_scaled = false;
    EXPECT_EQ(scalesmod::Scales2().Run(false), 1);
    EXPECT_EQ(out.Text(),
              "Can not open comport\n"
              "SCALES2: Unable to open com port. Scales module can't work. Please restart core.\n");
    EXPECT_EQ(err.Text(), "unable to open comport : No such file or directory\n");
    EXPECT_TRUE(record->SERVER_ERROR_NO_SCALES);
    EXPECT_FALSE(params->APPLICATION_STOP_REQUEST) << "the rest of the process carries on";
    EXPECT_FALSE(record->is_scaled) << "no request is served";
    record->is_scaled = true;
}

}  // namespace
