// Box dimensioning and the hands check on simulated scenes whose true sizes are known.
//
// Every scene is checked against what the measuring algorithm gives for it, computed by
// visionbench::PredictMeasure from the box's exact outline (no pixels). Where that differs from
// the true size the case says by how much and why. The picture then adds one error of its own:
// the contour runs through the centres of the blob's outermost pixels, and a pixel belongs to
// the blob when its centre does, so each side comes out between 0 and 2 pixels shorter than the
// exact outline's (on average one pixel); that is the only tolerance on the sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "SimulatedCamera.h"

namespace {

using visionbench::ArmOverBorder;
using visionbench::BoxOnFloor;
using visionbench::Expected;
using visionbench::NoDepth;
using visionbench::SimulatedScene;
using visiontest::FramePair;
using visiontest::NextFrames;
using visiontest::SceneFile;

constexpr double kFloor = 1500;

class Measure : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_SIMULATED_CAMERA();
        visiontest::ResetSharedState();
        visiontest::StartAndCalibrate(vision, scene, SimulatedScene{});
        intrinsics =
            NextFrames(vision).depth.get_profile().as<rs2::video_stream_profile>().get_intrinsics();
    }

    // Measures the scene once, as the service loop does but without pictures.
    bool MeasureScene(const SimulatedScene& shown) {
        scene.Show(shown);
        const FramePair frames = NextFrames(vision);
        return vision.Measure(vision.PolarToCartesian(frames.depth), frames.color, false, false);
    }

    SceneFile scene;
    visionmod::Vision vision;
    rs2_intrinsics intrinsics{};
    Measurement* record = Measurement::getInstance();
    Configuration* config = Configuration::getInstance();
};

std::pair<double, double> Sorted(double a, double b) {
    return {std::max(a, b), std::min(a, b)};
}

struct SceneCase {
    const char* name;
    BoxOnFloor box;
    // Exact outline minus true size, longer side then shorter side.
    double errorLonger;
    double errorShorter;
    const char* why;
};

TEST_F(Measure, BoxesGiveWhatTheAlgorithmGivesForTheirOutline) {
    const SceneCase cases[] = {
        {"centred",
         {400, 300, 200, 0, 0, 0},
         0,
         0,
         "straight below the camera only the top is seen"},
        {"tall", {250, 200, 600, 0, 0, 0}, 0, 0, "only the top is seen"},
        {"flat", {400, 300, 50, 0, 0, 0}, 0, 0, "only the top is seen"},
        {"off-centre to the right",
         {200, 200, 200, 170, 0, 0},
         8.10,
         0,
         "the wall facing the camera is seen from the top down to the filter's cut 30 mm above "
         "the floor; with its near edge 70 mm off the axis it adds 70 * 170 / 1470 mm"},
        {"off-centre downwards",
         {300, 150, 200, 0, 100, 0},
         0,
         2.89,
         "the facing wall, near edge 25 mm off the axis: 25 * 170 / 1470 mm"},
        {"near the left border",
         {150, 150, 150, -190, 0, 0},
         9.39,
         0,
         "the facing wall, near edge 115 mm off the axis: 115 * 120 / 1470 mm"},
        {"turned 30 degrees",
         {300, 200, 150, 0, 0, 30},
         2.67,
         0.02,
         "the pixels are not square (fx 1004.6, fy 989.1): the turned top is a parallelogram in "
         "the picture, and the smallest rectangle around it is longer than the top"},
        {"turned 45 degrees",
         {300, 200, 150, 0, 0, 45},
         3.11,
         0.02,
         "non-square pixels, as above, at the worst angle"},
    };
    for (const SceneCase& c : cases) {
        SimulatedScene shown;
        shown.boxes.push_back(c.box);
        testsupport::StdoutCapture out;
        ASSERT_FALSE(MeasureScene(shown)) << c.name;

        const Expected expected = visionbench::PredictMeasure(c.box, kFloor, intrinsics);
        const auto exact = Sorted(expected.x, expected.y);
        const auto truth = Sorted(c.box.length, c.box.width);
        EXPECT_NEAR(exact.first - truth.first, c.errorLonger, 0.01) << c.name << ": " << c.why;
        EXPECT_NEAR(exact.second - truth.second, c.errorShorter, 0.01) << c.name << ": " << c.why;

        const auto measured = Sorted(record->x, record->y);
        const double pixel = expected.pixelMm;
        EXPECT_GT(measured.first, exact.first - 2 * pixel) << c.name;
        EXPECT_LE(measured.first, exact.first + 0.01) << c.name;
        EXPECT_GT(measured.second, exact.second - 2 * pixel) << c.name;
        EXPECT_LE(measured.second, exact.second + 0.01) << c.name;
        // Depth comes in whole millimetres and the top is level: the height is exact.
        EXPECT_EQ(record->z, c.box.height) << c.name;
        EXPECT_FALSE(record->MEASURE_ERROR_HANDS_DETECTED) << c.name;
        EXPECT_NE(out.Text().find("HANDS_CHECKING_TEST1: "), std::string::npos) << c.name;
        EXPECT_EQ(out.Text().find("Hands detected!"), std::string::npos) << c.name;
        EXPECT_EQ(out.Text().find("HANDS DETECTED"), std::string::npos) << c.name;
    }
}

// With noise on, the sides are still bounded as without it (the floor stays more than ten
// standard deviations below the cut and the box's pixels far above it), but the height carries
// the noise of two single pixels: the centre pixel that fixed the floor and the one measured.
TEST_F(Measure, NoiseReachesTheHeightThroughTwoPixels) {
    const double sigmaAt1m = 1.0;
    SimulatedScene noisyFloor;
    noisyFloor.noiseAt1m = sigmaAt1m;
    scene.Show(noisyFloor);
    vision.thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, 16.0f);
    ASSERT_TRUE(vision.FixMaxDistance(NextFrames(vision).depth));
    const float floor = config->GetDepth().second;
    EXPECT_NEAR(floor, kFloor, 4 * sigmaAt1m * 1.5 * 1.5 + 0.5);

    const BoxOnFloor box{400, 300, 200, 0, 0, 0};
    SimulatedScene shown = noisyFloor;
    shown.boxes.push_back(box);
    ASSERT_FALSE(MeasureScene(shown));
    const Expected expected = visionbench::PredictMeasure(box, kFloor, intrinsics);
    const auto measured = Sorted(record->x, record->y);
    const auto exact = Sorted(expected.x, expected.y);
    // The corners are deprojected with the noisy centre depth: a relative error of at most
    // 4 sigma over 1300 mm on top of the pixels.
    const double sigmaTop = sigmaAt1m * 1.3 * 1.3;
    const double depthShare = 4 * sigmaTop / 1300;
    EXPECT_GT(measured.first, (exact.first - 2 * expected.pixelMm) * (1 - depthShare));
    EXPECT_LE(measured.first, exact.first * (1 + depthShare));
    EXPECT_GT(measured.second, (exact.second - 2 * expected.pixelMm) * (1 - depthShare));
    EXPECT_LE(measured.second, exact.second * (1 + depthShare));
    // The measured height is relative to the floor as calibrated.
    EXPECT_NEAR(record->z, floor - (kFloor - box.height), 4 * sigmaTop + 0.5);
}

TEST_F(Measure, BoxLowerThanTheCutAndEmptyFloorGiveNothing) {
    for (double height : {0.0, 25.0, 29.0}) {
        SimulatedScene shown;
        if (height > 0) {
            shown.boxes.push_back(BoxOnFloor{400, 300, height, 0, 0, 0});
        }
        record->x = 1;
        record->y = 1;
        record->z = 1;
        record->MEASURE_ERROR_HANDS_DETECTED = true;
        testsupport::StdoutCapture out;
        EXPECT_FALSE(MeasureScene(shown)) << height;
        EXPECT_EQ(record->x, 0) << height;
        EXPECT_EQ(record->y, 0) << height;
        EXPECT_EQ(record->z, 0) << height;
        EXPECT_FALSE(record->MEASURE_ERROR_HANDS_DETECTED) << height;
        // No contour chosen: no hands check at all.
        EXPECT_EQ(out.Text(), "") << height;
    }
}

// A hole in the depth at the box's centre: every corner deprojects onto the camera axis.
TEST_F(Measure, NoDepthAtTheCentreGivesNoSidesAndTheFloorAsHeight) {
    SimulatedScene shown;
    shown.boxes.push_back(BoxOnFloor{400, 300, 200, 0, 0, 0});
    shown.noDepth.push_back(NoDepth{620, 340, 40, 40});
    ASSERT_FALSE(MeasureScene(shown));
    EXPECT_EQ(record->x, 0);
    EXPECT_EQ(record->y, 0);
    EXPECT_EQ(record->z, 1500);
}

// An arm reaching in to a turned box: the box and arm make one blob whose rectangle is turned
// too, and its corners leave the region. The sizes are those of that rectangle.
TEST_F(Measure, ArmReachingInIsFlaggedAndTheSizesStillMeasured) {
    SimulatedScene shown;
    shown.boxes.push_back(BoxOnFloor{300, 200, 200, -60, 40, 25});
    shown.arms.push_back(ArmOverBorder{"right", 60, 40, 300});
    testsupport::StdoutCapture out;
    ASSERT_FALSE(MeasureScene(shown));
    EXPECT_TRUE(record->MEASURE_ERROR_HANDS_DETECTED);
    const std::string text = out.Text();
    const size_t diagnostic = text.find("HANDS_CHECKING_TEST1: ");
    const size_t warning = text.find("Vision: Hands detected! xMin=412.291 xMax=867.709");
    const size_t flagged = text.find("Vision: HANDS DETECTED\n");
    ASSERT_NE(diagnostic, std::string::npos) << text;
    ASSERT_NE(warning, std::string::npos) << text;
    ASSERT_NE(flagged, std::string::npos) << text;
    EXPECT_LT(diagnostic, warning);
    EXPECT_LT(warning, flagged);
    EXPECT_GT(record->x, 100);
    EXPECT_GT(record->y, 100);
    EXPECT_EQ(record->z, 200);
}

// The check is only on the corners: an arm straight in from the side is cut by the region's
// mask at whole pixels inside the bounds, so on its own it is not flagged.
TEST_F(Measure, ArmStraightInOnItsOwnIsCutInsideTheBounds) {
    SimulatedScene shown;
    shown.arms.push_back(ArmOverBorder{"right", 100, 40, 300});
    testsupport::StdoutCapture out;
    ASSERT_FALSE(MeasureScene(shown));
    EXPECT_FALSE(record->MEASURE_ERROR_HANDS_DETECTED);
    EXPECT_NE(out.Text().find("HANDS_CHECKING_TEST1: "), std::string::npos);
    EXPECT_EQ(out.Text().find("HANDS DETECTED"), std::string::npos);
}

TEST_F(Measure, HandsCheckCanBeSwitchedOff) {
    vision.handsCheckingEnabled = false;
    SimulatedScene shown;
    shown.boxes.push_back(BoxOnFloor{300, 200, 200, -60, 40, 25});
    shown.arms.push_back(ArmOverBorder{"right", 60, 40, 300});
    testsupport::StdoutCapture out;
    ASSERT_FALSE(MeasureScene(shown));
    EXPECT_FALSE(record->MEASURE_ERROR_HANDS_DETECTED);
    EXPECT_EQ(out.Text(), "");
    EXPECT_GT(record->x, 0);
}

TEST_F(Measure, ContourAreaBoundsComeFromTheParameters) {
    // The centred box's blob has an area of about 309 x 228 pixels.
    SimulatedScene shown;
    shown.boxes.push_back(BoxOnFloor{400, 300, 200, 0, 0, 0});
    ConfigurationStruct parameters = visiontest::TestParameters();
    parameters.MAX_AREA = 60000;
    ASSERT_TRUE(config->SetAll(parameters));
    ASSERT_FALSE(MeasureScene(shown));
    EXPECT_EQ(record->x, 0);
    parameters.MAX_AREA = 80000;
    ASSERT_TRUE(config->SetAll(parameters));
    ASSERT_FALSE(MeasureScene(shown));
    EXPECT_GT(record->x, 0);
}

}  // namespace
