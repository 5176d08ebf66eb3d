// Decoding scales replies into a signed weight in kilograms, and zeroing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "WeightningData.h"

namespace {

using scalesmod::WeightningData;
using testsupport::StdoutCapture;

void Parse(WeightningData& data, std::vector<unsigned char> reply) {
    data.parse(reply.data());
}

TEST(WeightningData, DecodesEveryFieldOfAReply) {
    const struct {
        std::vector<unsigned char> reply;
        bool finished;
        bool zeroIndication;
        bool weightIndication;
        int code;
        bool negative;
        int count;
        float kilograms;
    } cases[] = {
        {{0x80, 0x00, 0xE8, 0x03, 0x00}, true, false, false, 0, false, 1000, 1.0f},
        {{0xA0, 0x04, 0x10, 0x27, 0x80}, true, false, true, 4, true, 10000, -100.0f},
        {{0x80, 0x01, 0x7D, 0x00, 0x00}, true, false, false, 1, false, 125, 0.0125f},
        {{0x80, 0x05, 0x05, 0x00, 0x00}, true, false, false, 5, false, 5, 0.5f},
        {{0x80, 0x06, 0x05, 0x00, 0x00}, true, false, false, 6, false, 5, 0.5f},
        // Codes without a divisor of their own leave the count undivided.
        {{0x80, 0x02, 0x05, 0x00, 0x00}, true, false, false, 2, false, 5, 5.0f},
        {{0x80, 0x03, 0x05, 0x00, 0x00}, true, false, false, 3, false, 5, 5.0f},
        {{0x80, 0x07, 0x05, 0x00, 0x00}, true, false, false, 7, false, 5, 5.0f},
        {{0xFF, 0xFF, 0x05, 0x00, 0x00}, true, true, true, 255, false, 5, 5.0f},
        // Bits 4 to 0 of the status byte mean nothing.
        {{0x9F, 0x00, 0x01, 0x02, 0x03}, true, false, false, 0, false, 0x030201, 197.121f},
        // The largest magnitude, both signs; it converts to float exactly.
        {{0x80, 0x02, 0xFF, 0xFF, 0x7F}, true, false, false, 2, false, 8388607, 8388607.0f},
        {{0x80, 0x02, 0xFF, 0xFF, 0xFF}, true, false, false, 2, true, 8388607, -8388607.0f},
        // Not settled: everything is decoded, but the weight is 0.
        {{0x00, 0x00, 0xE8, 0x03, 0x00}, false, false, false, 0, false, 1000, 0.0f},
        {{0x40, 0x00, 0x00, 0x00, 0x00}, false, true, false, 0, false, 0, 0.0f},
    };
    for (const auto& c : cases) {
        WeightningData data;
        Parse(data, c.reply);
        const std::string bytes = testing::PrintToString(c.reply);
        EXPECT_EQ(data.WeightningFinished, c.finished) << bytes;
        EXPECT_EQ(data.IsZeroIndication, c.zeroIndication) << bytes;
        EXPECT_EQ(data.IsWeightIndication, c.weightIndication) << bytes;
        EXPECT_EQ(data.WeightsDiscreteness, c.code) << bytes;
        EXPECT_EQ(data.WeightNegative, c.negative) << bytes;
        EXPECT_EQ(data.SourceWeight, c.count) << bytes;
        EXPECT_FLOAT_EQ(data.countRealWeight(), c.kilograms) << bytes;
    }
}

TEST(WeightningData, EachReplyReplacesTheLastButAZeroWeightKeepsItsCode) {
    WeightningData data;
    Parse(data, {0xA0, 0x04, 0x10, 0x27, 0x80});
    Parse(data, {0xC0, 0x01, 0x00, 0x00, 0x00});
    EXPECT_TRUE(data.WeightningFinished);
    EXPECT_TRUE(data.IsZeroIndication);
    EXPECT_FALSE(data.IsWeightIndication);
    EXPECT_FALSE(data.WeightNegative);
    EXPECT_EQ(data.SourceWeight, 0);
    EXPECT_EQ(data.WeightsDiscreteness, 4);
    EXPECT_EQ(data.countRealWeight(), 0.0f);

    Parse(data, {0x00, 0x00, 0xE8, 0x03, 0x00});
    EXPECT_FALSE(data.WeightningFinished) << "a settled reading never outlives the next reply";
    EXPECT_EQ(data.WeightsDiscreteness, 0);
}

TEST(WeightningData, CorrectedWeightIsLoggedOnlyWhenSettled) {
    StdoutCapture out;
    WeightningData data;
    EXPECT_EQ(data.getRealWeight(), 0.0f) << "a fresh record has no reading";
    Parse(data, {0x80, 0x00, 0xE8, 0x03, 0x00});
    EXPECT_EQ(data.getRealWeight(), 1.0f);
    EXPECT_EQ(out.Text(), "Scales real weight: 1 with calibration: 0\n");

    data.CalibrationDifference = 0.25f;
    EXPECT_EQ(data.getRealWeight(), 0.75f);
    Parse(data, {0x00, 0x00, 0xE8, 0x03, 0x00});
    EXPECT_EQ(data.getRealWeight(), 0.0f)
        << "the difference is not applied to an unsettled reading";
    EXPECT_EQ(out.Text(),
              "Scales real weight: 1 with calibration: 0\n"
              "Scales real weight: 1 with calibration: 0.25\n");
}

TEST(WeightningData, ZeroingTakesTheUncorrectedSettledWeight) {
    StdoutCapture out;
    WeightningData data;
    EXPECT_FALSE(data.setZero()) << "nothing decoded yet";
    EXPECT_EQ(data.CalibrationDifference, 0.0f);

    Parse(data, {0x80, 0x00, 0xC4, 0x09, 0x00});  // 2.5 kg
    ASSERT_TRUE(data.setZero());
    EXPECT_EQ(data.CalibrationDifference, 2.5f);
    EXPECT_EQ(data.getRealWeight(), 0.0f);

    Parse(data, {0x80, 0x00, 0xD0, 0x07, 0x00});  // 2.0 kg
    EXPECT_EQ(data.getRealWeight(), -0.5f);
    ASSERT_TRUE(data.setZero());
    EXPECT_EQ(data.CalibrationDifference, 2.0f) << "zeroing replaces the difference";
    EXPECT_EQ(data.getRealWeight(), 0.0f);

    Parse(data, {0x00, 0x00, 0xE8, 0x03, 0x00});
    EXPECT_FALSE(data.setZero());
    EXPECT_EQ(data.CalibrationDifference, 2.0f);

    const std::string text = out.Text();
    EXPECT_NE(text.find("Calibrating scales with new coeff: 2.5 on weight 2.5\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Calibrating scales with new coeff: 2 on weight 2\n"), std::string::npos)
        << text;
}

}  // namespace
