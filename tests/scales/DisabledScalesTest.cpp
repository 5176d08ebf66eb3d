// The scales service without scales: a fixed weight, and zeroing confirmed at once.
#include <gtest/gtest.h>

#include <future>

#include "CoreParams.h"
#include "Measurement.h"
#include "Scales2.h"
#include "TestSupport.h"

namespace {

using testsupport::WaitFor;

TEST(DisabledScales, AnswersWeighingWithTheDummyWeightAndConfirmsZeroing) {
    CoreParams* params = CoreParams::getInstance();
    Measurement* record = Measurement::getInstance();
    params->APPLICATION_STOP_REQUEST = false;
    record->is_scaled = true;
    record->is_scales_calibrated = true;
    record->MEASURE_ERROR_EMPTY_W = true;
    auto run = std::async(std::launch::async, [] { return scalesmod::Scales2().Run(true); });

    for (int request = 0; request < 2; ++request) {
        record->weight = 0;
        record->is_scaled = false;
        ASSERT_TRUE(WaitFor([&] { return record->is_scaled.load(); }));
        EXPECT_EQ(record->weight, 1234567.0f);
    }
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_W) << "the empty-weight flag is left as it was";

    record->is_scales_calibrated = false;
    ASSERT_TRUE(WaitFor([&] { return record->is_scales_calibrated.load(); }));

    params->APPLICATION_STOP_REQUEST = true;
    EXPECT_EQ(run.get(), 1);
    record->MEASURE_ERROR_EMPTY_W = false;
}

}  // namespace
