// The live service loop on the simulated camera, driven through the shared record as the
// request server drives it.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "SimulatedCamera.h"

namespace {

using testsupport::WaitFor;
using visionbench::BoxOnFloor;
using visionbench::NoDepth;
using visionbench::SimulatedScene;
using visiontest::SceneFile;

class LiveLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_SIMULATED_CAMERA();
        visiontest::ResetSharedState();
        CoreParams::getInstance()->PhotoPath = dir / "photo.png";
    }

    void TearDown() override {
        if (run.valid()) {
            params->APPLICATION_STOP_REQUEST = true;
            run.wait();
        }
    }

    // Starts the loop as at process start: nothing calibrated, nothing measured.
    void Start(const SimulatedScene& shown) {
        scene.Show(shown);
        record->is_calibrated = false;
        record->is_measured = false;
        run = std::async(std::launch::async, [] { return visionmod::Vision().Run(false); });
    }

    bool Idle() {
        return WaitFor([this] { return record->is_calibrated && record->is_measured; });
    }

    bool MeasuredAgain() {
        record->is_measured = false;
        return WaitFor([this] { return record->is_measured.load(); });
    }

    int Stop() {
        params->APPLICATION_STOP_REQUEST = true;
        return run.get();
    }

    static SimulatedScene WithBox(const BoxOnFloor& box) {
        SimulatedScene shown;
        shown.boxes.push_back(box);
        return shown;
    }

    testsupport::TempDir dir;
    SceneFile scene;
    std::future<int> run;
    CoreParams* params = CoreParams::getInstance();
    Measurement* record = Measurement::getInstance();
    Configuration* config = Configuration::getInstance();
};

TEST_F(LiveLoop, StartUpCalibratesAndMeasuresTheEmptyAreaOnce) {
    testsupport::StdoutCapture out;
    Start(SimulatedScene{});
    ASSERT_TRUE(Idle());
    EXPECT_EQ(config->GetDepth().second, 1500.0f);
    EXPECT_EQ(record->x, 0);
    EXPECT_EQ(record->y, 0);
    EXPECT_EQ(record->z, 0);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_X);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_Y);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_Z);
    EXPECT_EQ(Stop(), 0);
    const std::string text = out.Text();
    const size_t first = text.find("Vision: Calibrate 1 \n\n");
    const size_t second = text.find("Vision: Calibrate 2 \n\n");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_LT(first, second);
    EXPECT_LT(text.find("Vision: Set MAX_DIST2 = 1.47\n"), second);
    EXPECT_TRUE(testsupport::FileExists(params->PhotoPath));
}

TEST_F(LiveLoop, MeasurementsWriteSizesAndEmptyValueFlags) {
    Start(SimulatedScene{});
    ASSERT_TRUE(Idle());

    scene.Show(WithBox(BoxOnFloor{400, 300, 200, 0, 0, 0}));
    ASSERT_TRUE(MeasuredAgain());
    // The sides in the rectangle's corner order, each up to two pixels (2.6 mm) short.
    EXPECT_NEAR(std::max<float>(record->x, record->y), 400 - 1.3, 1.4);
    EXPECT_NEAR(std::min<float>(record->x, record->y), 300 - 1.3, 1.4);
    EXPECT_EQ(record->z, 200);
    EXPECT_FALSE(record->MEASURE_ERROR_EMPTY_X);
    EXPECT_FALSE(record->MEASURE_ERROR_EMPTY_Y);
    EXPECT_FALSE(record->MEASURE_ERROR_EMPTY_Z);

    // No depth at the box's centre: no sides, the floor distance as height.
    SimulatedScene hole = WithBox(BoxOnFloor{400, 300, 200, 0, 0, 0});
    hole.noDepth.push_back(NoDepth{620, 340, 40, 40});
    scene.Show(hole);
    ASSERT_TRUE(MeasuredAgain());
    EXPECT_EQ(record->z, 1500);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_X);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_Y);
    EXPECT_FALSE(record->MEASURE_ERROR_EMPTY_Z);
    EXPECT_EQ(Stop(), 0);
}

// A box at the centre during calibration becomes the floor; heights are then measured from
// its top, and the box itself, lower than the new cut, is no longer seen.
TEST_F(LiveLoop, CalibrationWithABoxAtTheCentreMovesTheFloor) {
    Start(SimulatedScene{});
    ASSERT_TRUE(Idle());

    scene.Show(WithBox(BoxOnFloor{600, 500, 200, 0, 0, 0}));
    record->is_calibrated = false;
    ASSERT_TRUE(WaitFor([this] { return record->is_calibrated.load(); }));
    EXPECT_EQ(config->GetDepth().second, 1300.0f);
    ASSERT_TRUE(MeasuredAgain());
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_Z);

    scene.Show(WithBox(BoxOnFloor{300, 200, 300, 0, 0, 0}));
    ASSERT_TRUE(MeasuredAgain());
    EXPECT_EQ(record->z, 100);
    EXPECT_EQ(Stop(), 0);
}

// The centre without depth makes every calibration attempt fail; the stop request still ends
// the loop.
TEST_F(LiveLoop, StopEndsEndlessCalibrationAttempts) {
    SimulatedScene hole;
    hole.noDepth.push_back(NoDepth{600, 320, 80, 80});
    testsupport::StdoutCapture out;
    Start(hole);
    ASSERT_TRUE(
        out.WaitForText("Vision: Distance <= 0\nVision: Calibrate 1 \n\nVision: "
                        "Distance <= 0\n"));
    EXPECT_FALSE(record->is_calibrated);
    EXPECT_FALSE(record->is_measured);
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(out.Text().find("Calibrate 2"), std::string::npos);
}

TEST_F(LiveLoop, NoCameraReportsCantInitAndReturns) {
    SimulatedScene none;
    none.faults = "devices = \"none\"";
    scene.Show(none);
    visiontest::StreamCapture errors(std::cerr);
    EXPECT_EQ(visionmod::Vision().Run(false), 2);
    EXPECT_EQ(errors.Text(),
              "The demo requires Realsense camera with RGB sensor\n"
              "The demo requires Realsense camera with DEPTH sensor\n"
              "ERROR[VISION MODULE] : Can't init.\n");
}

}  // namespace
