// The camera session and the floor calibration on the simulated camera: the camera search, the
// start-up and its failures, and fixing the floor from the centre pixel.
#include <gtest/gtest.h>

#include <stdexcept>
#include <typeinfo>

#include "SimulatedCamera.h"
#include "device_with_streams.h"

namespace {

using visionbench::BoxOnFloor;
using visionbench::NoDepth;
using visionbench::SimulatedScene;
using visiontest::FramePair;
using visiontest::NextFrames;
using visiontest::SceneFile;
using visiontest::StreamCapture;

class CameraSession : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_SIMULATED_CAMERA();
        visiontest::ResetSharedState();
    }

    SimulatedScene WithFaults(const std::string& faults) {
        SimulatedScene shown;
        shown.faults = faults;
        return shown;
    }

    SceneFile scene;
    Configuration* configuration = Configuration::getInstance();
};

TEST_F(CameraSession, CameraSearchNamesTheStreamsNoDeviceOffers) {
    struct Case {
        const char* faults;
        bool found;
        const char* errors;
        const char* serial;
    };
    const Case cases[] = {
        {"devices = \"d400\"", true, "", "SIMCAM000001"},
        {"devices = \"none\"", false,
         "The demo requires Realsense camera with RGB sensor\n"
         "The demo requires Realsense camera with DEPTH sensor\n",
         ""},
        {"devices = \"depth-only\"", false, "The demo requires Realsense camera with RGB sensor\n",
         "SIMCAM000001"},
        // Each stream is on some device, so nothing is named, yet no one device has both. The
        // serial is that of the last device that offered a requested stream.
        {"devices = \"split\"", false, "", "SIMCAM000001-COLOR"},
        {"serial = false", true, "", ""},
    };
    for (const Case& c : cases) {
        scene.Show(WithFaults(c.faults));
        StreamCapture errors(std::cerr);
        std::string serial;
        EXPECT_EQ(visionmod::device_with_streams({RS2_STREAM_COLOR, RS2_STREAM_DEPTH}, serial),
                  c.found)
            << c.faults;
        EXPECT_EQ(errors.Text(), c.errors) << c.faults;
        EXPECT_EQ(serial, c.serial) << c.faults;
    }
}

TEST_F(CameraSession, CameraSearchForStreamsThisModuleHasNoMessageFor) {
    scene.Show(WithFaults("devices = \"none\""));
    StreamCapture errors(std::cerr);
    std::string serial;
    EXPECT_FALSE(visionmod::device_with_streams({RS2_STREAM_FISHEYE, RS2_STREAM_POSE}, serial));
    EXPECT_EQ(errors.Text(), "Connect T26X and rerun the demo\nConnect T26X and rerun the demo\n");
    try {
        visionmod::device_with_streams({RS2_STREAM_DEPTH, RS2_STREAM_GYRO}, serial);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(
            error.what(),
            "The requested stream: 5, for the demo is not supported by connected devices!");
    }
}

TEST_F(CameraSession, InitStartsTheCameraWithTheParametersLimits) {
    scene.Show(SimulatedScene{});
    visionmod::Vision vision;
    testsupport::StdoutCapture out;
    ASSERT_TRUE(vision.Init());
    EXPECT_EQ(out.Text(), "Vision: Lidar serial is SIMCAM000001\nVision: Set MAX_DIST1 = 16\n");
    EXPECT_EQ(vision.serial, "SIMCAM000001");
    EXPECT_FLOAT_EQ(vision.thrFilter.get_option(RS2_OPTION_MIN_DISTANCE), 0.29f);
    EXPECT_FLOAT_EQ(vision.thrFilter.get_option(RS2_OPTION_MAX_DISTANCE), 16.0f);

    rs2::frameset frames = vision.pipe.wait_for_frames();
    const rs2::depth_frame depth = frames.get_depth_frame();
    ASSERT_TRUE(depth);
    EXPECT_EQ(depth.get_width(), 1280);
    EXPECT_EQ(depth.get_height(), 720);
    EXPECT_EQ(depth.get_profile().format(), RS2_FORMAT_Z16);
    EXPECT_EQ(depth.get_profile().fps(), 6);
    const rs2::video_frame color = rs2::align(RS2_STREAM_DEPTH).process(frames).get_color_frame();
    ASSERT_TRUE(color);
    EXPECT_EQ(color.get_bytes_per_pixel(), 3);
    EXPECT_EQ(color.get_width(), 1280);
}

TEST_F(CameraSession, InitUsesACameraWithoutSerialNumber) {
    scene.Show(WithFaults("serial = false"));
    visionmod::Vision vision;
    testsupport::StdoutCapture out;
    ASSERT_TRUE(vision.Init());
    EXPECT_EQ(vision.serial, "");
    EXPECT_TRUE(out.WaitForText("Vision: Lidar serial is \n"));
    EXPECT_TRUE(vision.pipe.wait_for_frames().get_depth_frame());
}

TEST_F(CameraSession, InitFailsWithoutASuitableCamera) {
    for (const char* faults : {"devices = \"none\"", "devices = \"split\""}) {
        scene.Show(WithFaults(faults));
        visionmod::Vision vision;
        StreamCapture errors(std::cerr);
        StreamCapture log(std::clog);
        EXPECT_FALSE(vision.Init()) << faults;
        EXPECT_EQ(log.Text(), "") << faults;
    }
}

// The camera refusing an option throws inside Init: the exception's type name goes to the log.
TEST_F(CameraSession, InitFailsWhenTheCameraRefusesThePreset) {
    scene.Show(WithFaults("refuse_option = \"VISUAL_PRESET\""));
    visionmod::Vision vision;
    StreamCapture log(std::clog);
    testsupport::StdoutCapture out;
    EXPECT_FALSE(vision.Init());
    EXPECT_EQ(log.Text(), std::string(typeid(rs2::error).name()) + "\n");
    EXPECT_NE(out.Text().find("Vision: Lidar serial is SIMCAM000001\n"), std::string::npos);
    EXPECT_EQ(out.Text().find("Set MAX_DIST1"), std::string::npos);
}

TEST_F(CameraSession, FloorFixedFromTheCentrePixel) {
    visionmod::Vision vision;
    scene.Show(SimulatedScene{});
    ASSERT_TRUE(vision.Init());
    testsupport::StdoutCapture out;
    ASSERT_TRUE(vision.FixMaxDistance(NextFrames(vision).depth));
    EXPECT_EQ(configuration->GetDepth().second, 1500.0f);
    EXPECT_FLOAT_EQ(configuration->GetDepth().first, 0.29f);
    EXPECT_EQ(vision.thrFilter.get_option(RS2_OPTION_MAX_DISTANCE), 1.47f);
    EXPECT_EQ(out.Text(), "Vision: Set MAX_DIST2 = 1.47\nMax distance fixed in 1500.000000 mm\n\n");

    // An object standing at the centre is taken for the floor.
    SimulatedScene boxAtCentre;
    boxAtCentre.boxes.push_back(BoxOnFloor{400, 300, 200});
    scene.Show(boxAtCentre);
    vision.thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, 16.0f);
    ASSERT_TRUE(vision.FixMaxDistance(NextFrames(vision).depth));
    EXPECT_EQ(configuration->GetDepth().second, 1300.0f);
    EXPECT_EQ(vision.thrFilter.get_option(RS2_OPTION_MAX_DISTANCE), 1.27f);
}

// The camera measures whole millimetres, so 30 mm is the nearest distance below the limit.
TEST_F(CameraSession, FloorNearerThan31MmOrWithoutDepthIsRefused) {
    struct Case {
        double floor;
        bool centreWithoutDepth;
        bool fixed;
    };
    const Case cases[] = {{31, false, true}, {30, false, false}, {1500, true, false}};
    for (const Case& c : cases) {
        configuration->SetDepth({0.29f, 16});
        SimulatedScene floor;
        floor.floorDistance = c.floor;
        if (c.centreWithoutDepth) {
            floor.noDepth.push_back(NoDepth{630, 350, 20, 20});
        }
        scene.Show(floor);
        visionmod::Vision vision;
        ASSERT_TRUE(vision.Init());
        // Unfiltered: the filter's near limit of 0.29 m would hide such a near floor.
        const rs2::depth_frame depth = vision.pipe.wait_for_frames().get_depth_frame();
        testsupport::StdoutCapture out;
        EXPECT_EQ(vision.FixMaxDistance(depth), c.fixed) << c.floor;
        if (c.fixed) {
            EXPECT_EQ(configuration->GetDepth().second, 31.0f);
            EXPECT_EQ(vision.thrFilter.get_option(RS2_OPTION_MAX_DISTANCE), 0.001f);
        } else {
            EXPECT_EQ(out.Text(), "Vision: Distance <= 0\n") << c.floor;
            EXPECT_EQ(configuration->GetDepth().second, 16.0f) << c.floor;
            EXPECT_EQ(vision.thrFilter.get_option(RS2_OPTION_MAX_DISTANCE), 16.0f) << c.floor;
        }
    }
}

}  // namespace
