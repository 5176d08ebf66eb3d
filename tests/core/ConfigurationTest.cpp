#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "Configuration.h"

namespace {

// A set in which every value lies inside its range and differs from the defaults.
ConfigurationStruct ValidSet() {
    ConfigurationStruct s;
    s.VISUAL_PRESET = 6;
    s.DIGITAL_GAIN = 0;
    s.MIN_DEPTH = 0.5f;
    s.MAX_DEPTH = 1500;
    s.MIN_AREA = 200;
    s.MAX_AREA = 150000;
    s.FOW_WIDTH = 87;
    s.FOW_HEIGHT = 58;
    s.REGION_WIDTH = 1920;
    s.REGION_HEIGHT = 10;
    s.REGION_OFFSET_X = -10000;
    s.REGION_OFFSET_Y = 10000;
    s.DRAW_SIZE = false;
    return s;
}

void ExpectSame(const ConfigurationStruct& a, const ConfigurationStruct& b) {
    EXPECT_EQ(a.VISUAL_PRESET, b.VISUAL_PRESET);
    EXPECT_EQ(a.DIGITAL_GAIN, b.DIGITAL_GAIN);
    EXPECT_EQ(a.MIN_DEPTH, b.MIN_DEPTH);
    EXPECT_EQ(a.MAX_DEPTH, b.MAX_DEPTH);
    EXPECT_EQ(a.MIN_AREA, b.MIN_AREA);
    EXPECT_EQ(a.MAX_AREA, b.MAX_AREA);
    EXPECT_EQ(a.FOW_WIDTH, b.FOW_WIDTH);
    EXPECT_EQ(a.FOW_HEIGHT, b.FOW_HEIGHT);
    EXPECT_EQ(a.REGION_WIDTH, b.REGION_WIDTH);
    EXPECT_EQ(a.REGION_HEIGHT, b.REGION_HEIGHT);
    EXPECT_EQ(a.REGION_OFFSET_X, b.REGION_OFFSET_X);
    EXPECT_EQ(a.REGION_OFFSET_Y, b.REGION_OFFSET_Y);
    EXPECT_EQ(a.DRAW_SIZE, b.DRAW_SIZE);
}

struct IntBound {
    ConfigurationEnum parameter;
    int value;
    bool accepted;
};

TEST(Configuration, IntRangesAreInclusive) {
    const int kMin = std::numeric_limits<int>::min();
    const IntBound cases[] = {
        {VISUAL_PRESET, 0, true},
        {VISUAL_PRESET, 6, true},
        {VISUAL_PRESET, -1, false},
        {VISUAL_PRESET, 7, false},
        {DIGITAL_GAIN, 0, true},
        {DIGITAL_GAIN, 2, true},
        {DIGITAL_GAIN, -1, false},
        {DIGITAL_GAIN, 3, false},
        {REGION_OFFSET_X, -10000, true},
        {REGION_OFFSET_X, 10000, true},
        {REGION_OFFSET_X, -10001, false},
        {REGION_OFFSET_X, 10001, false},
        {REGION_OFFSET_X, kMin, false},
        {REGION_OFFSET_Y, -10000, true},
        {REGION_OFFSET_Y, 10000, true},
        {REGION_OFFSET_Y, 10001, false},
        // Float parameters are never accepted by the int check, nor is DRAW_SIZE.
        {MIN_DEPTH, 1, false},
        {DRAW_SIZE, 1, false},
    };
    Configuration* configuration = Configuration::getInstance();
    for (const IntBound& c : cases) {
        EXPECT_EQ(configuration->CheckParameterInt(c.parameter, c.value), c.accepted)
            << "parameter " << c.parameter << " value " << c.value;
    }
}

struct FloatBound {
    ConfigurationEnum parameter;
    float value;
    bool accepted;
};

TEST(Configuration, FloatRangesAreInclusiveAndRefuseNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const FloatBound cases[] = {
        {MIN_DEPTH, 0, true},
        {MIN_DEPTH, 200000, true},
        {MIN_DEPTH, -0.001f, false},
        {MIN_DEPTH, 200000.02f, false},
        {MAX_DEPTH, 0, true},
        {MAX_DEPTH, 200000, true},
        {MAX_DEPTH, -1, false},
        {MAX_DEPTH, 200001, false},
        {MIN_AREA, 10, true},
        {MIN_AREA, 200000, true},
        {MIN_AREA, 9.99f, false},
        {MIN_AREA, 200000.02f, false},
        {MAX_AREA, 10, true},
        {MAX_AREA, 200000, true},
        {MAX_AREA, 200000000, false},
        {MAX_AREA, 9.5f, false},
        {FOW_WIDTH, 0, true},
        {FOW_WIDTH, 2000, true},
        {FOW_WIDTH, -0.5f, false},
        {FOW_WIDTH, 2000.5f, false},
        {FOW_HEIGHT, 0, true},
        {FOW_HEIGHT, 2000, true},
        {FOW_HEIGHT, 2001, false},
        {REGION_WIDTH, 10, true},
        {REGION_WIDTH, 1920, true},
        {REGION_WIDTH, 1920.5f, false},
        {REGION_WIDTH, 9.5f, false},
        {REGION_HEIGHT, 10, true},
        {REGION_HEIGHT, 1080, true},
        {REGION_HEIGHT, 1080.5f, false},
        {REGION_HEIGHT, 9.5f, false},
        {MIN_DEPTH, nan, false},
        {MAX_DEPTH, nan, false},
        {MIN_AREA, nan, false},
        {MAX_AREA, nan, false},
        {FOW_WIDTH, nan, false},
        {FOW_HEIGHT, nan, false},
        {REGION_WIDTH, nan, false},
        {REGION_HEIGHT, nan, false},
        {MAX_DEPTH, inf, false},
        {MIN_DEPTH, -inf, false},
        // Int parameters are never accepted by the float check.
        {VISUAL_PRESET, 3, false},
        {REGION_OFFSET_X, 0, false},
    };
    Configuration* configuration = Configuration::getInstance();
    for (const FloatBound& c : cases) {
        EXPECT_EQ(configuration->CheckParameterFloat(c.parameter, c.value), c.accepted)
            << "parameter " << c.parameter << " value " << c.value;
    }
}

TEST(Configuration, SetAllTakesAllOrNone) {
    Configuration* configuration = Configuration::getInstance();
    const ConfigurationStruct accepted = ValidSet();
    ASSERT_TRUE(configuration->SetAll(accepted));
    ExpectSame(configuration->GetAll(), accepted);

    // Each refused set differs from the stored one in DRAW_SIZE too; nothing of it may land.
    ConfigurationStruct refused = ValidSet();
    refused.DRAW_SIZE = true;
    refused.MIN_DEPTH = 0.1f;
    refused.REGION_OFFSET_Y = 10001;
    EXPECT_FALSE(configuration->SetAll(refused));
    ExpectSame(configuration->GetAll(), accepted);

    refused = ValidSet();
    refused.DRAW_SIZE = true;
    refused.FOW_HEIGHT = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(configuration->SetAll(refused));
    ExpectSame(configuration->GetAll(), accepted);

    // No relation between values is required.
    ConfigurationStruct inverted = ValidSet();
    inverted.MIN_DEPTH = 2000;
    inverted.MAX_DEPTH = 1;
    inverted.MIN_AREA = 5000;
    inverted.MAX_AREA = 20;
    EXPECT_TRUE(configuration->SetAll(inverted));
    ExpectSame(configuration->GetAll(), inverted);
}

TEST(Configuration, DefaultSetIsRefusedBecauseOfItsMaxArea) {
    const ConfigurationStruct defaults;
    EXPECT_EQ(defaults.MAX_AREA, 200000000.0f);
    EXPECT_EQ(defaults.REGION_OFFSET_Y, 40);
    EXPECT_FALSE(Configuration::getInstance()->SetAll(defaults));
}

TEST(Configuration, PairSettersStoreBothOrNeither) {
    Configuration* configuration = Configuration::getInstance();
    ASSERT_TRUE(configuration->SetAll(ValidSet()));

    EXPECT_FALSE(configuration->SetRegion({5, 300}));
    EXPECT_EQ(configuration->GetRegion(), std::make_pair(1920.0f, 10.0f));
    EXPECT_TRUE(configuration->SetRegion({680, 550}));
    EXPECT_EQ(configuration->GetRegion(), std::make_pair(680.0f, 550.0f));

    EXPECT_FALSE(configuration->SetRegionOffset({0, -10001}));
    EXPECT_EQ(configuration->GetRegionOffset(), std::make_pair(-10000, 10000));
    EXPECT_TRUE(configuration->SetRegionOffset({12, -3}));
    EXPECT_EQ(configuration->GetRegionOffset(), std::make_pair(12, -3));

    EXPECT_FALSE(configuration->SetDepth({0.5f, -1}));
    EXPECT_EQ(configuration->GetDepth(), std::make_pair(0.5f, 1500.0f));
    EXPECT_TRUE(configuration->SetDepth({0.5f, 1470}));
    EXPECT_EQ(configuration->GetDepth(), std::make_pair(0.5f, 1470.0f));
    EXPECT_EQ(configuration->GetAll().MAX_DEPTH, 1470.0f);

    EXPECT_EQ(configuration->GetVisualPreset(), 6);
    EXPECT_EQ(configuration->GetArea(), std::make_pair(200.0f, 150000.0f));
    EXPECT_EQ(configuration->GetFow(), std::make_pair(87.0f, 58.0f));
    EXPECT_FALSE(configuration->GetDrawSize());
}

}  // namespace

namespace {

TEST(Configuration, ReadersNeverSeeAHalfAppliedSet) {
    Configuration* configuration = Configuration::getInstance();
    ConfigurationStruct a = ValidSet();
    ConfigurationStruct b = ValidSet();
    b.VISUAL_PRESET = 1;
    b.MIN_DEPTH = 1;
    b.MAX_DEPTH = 2;
    b.REGION_OFFSET_Y = -5;
    b.DRAW_SIZE = true;
    ASSERT_TRUE(configuration->SetAll(a));

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            configuration->SetAll(i % 2 ? a : b);
            configuration->SetDepth(i % 2 ? std::make_pair(0.5f, 1500.0f)
                                          : std::make_pair(1.0f, 2.0f));
        }
        done = true;
    });
    int mixed = 0;
    while (!done) {
        const ConfigurationStruct seen = configuration->GetAll();
        const bool isA =
            seen.VISUAL_PRESET == 6 && seen.REGION_OFFSET_Y == 10000 && !seen.DRAW_SIZE;
        const bool isB = seen.VISUAL_PRESET == 1 && seen.REGION_OFFSET_Y == -5 && seen.DRAW_SIZE;
        const auto depth = configuration->GetDepth();
        const bool depthWhole = (depth.first == 0.5f && depth.second == 1500.0f) ||
                                (depth.first == 1.0f && depth.second == 2.0f);
        mixed += (isA || isB) && depthWhole ? 0 : 1;
    }
    writer.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
