// The real core with the simulated camera: start-up calibration and measurement, MEASURE and
// CALIBRATE requests, and the orderly stop when there is no camera or when the camera stops
// delivering frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CoreRun.h"
#include "SceneModel.h"
#include "TestSupport.h"

namespace {

using e2e::Station;
using visionbench::BoxOnFloor;
using visionbench::SimulatedScene;

const char* const kBanner =
    "\n\n\nCORE: ---------------------------SHUTDOWN DEVICE---------------------------\n\n\n";

class VisionProcess : public ::testing::Test {
  protected:
    void SetUp() override {
#if !STATION_SIMULATED_CAMERA
        GTEST_SKIP() << "built against the real camera SDK: these tests need the simulated "
                        "camera's scenes";
#endif
    }

    std::unique_ptr<testsupport::ChildProcess> StartWith(const SimulatedScene& scene) {
        Show(scene);
        return station.Start({"disable_scales", "disable_automeasure"},
                             {{"SIMCAM_SCENE", station.Path("scene.toml")}});
    }

    // The running camera reads the scene file again once it has been replaced.
    void Show(const SimulatedScene& scene) {
        testsupport::WriteFileAtomically(station.Path("scene.toml"), visionbench::SceneToml(scene));
    }

    // One command through the station's client; the response document.
    nlohmann::json Request(const std::string& command) {
        testsupport::ChildProcess client(CLIENT_BINARY, {"--dir", station.Dir(), command});
        EXPECT_EQ(client.WaitExit(), 0) << command << ": " << client.Errors();
        return nlohmann::json::parse(client.Output(), nullptr, false);
    }

    // A request that comes while the start-up measurement runs is answered by that measurement,
    // made on the scene of before: the first request waits it out. It finds the empty area.
    void WaitUntilIdle() {
        const nlohmann::json response = Request("measure");
        EXPECT_EQ(response["Z"], 0.0);
        EXPECT_EQ(response["MEASURE_ERROR_EMPTY_X"], true);
    }

    static SimulatedScene WithBox(const BoxOnFloor& box) {
        SimulatedScene scene;
        scene.boxes.push_back(box);
        return scene;
    }

    // The box stands off the centre, so the floor is fixed at the centre pixel all the same.
    static SimulatedScene OffCentreBox() {
        SimulatedScene scene;
        scene.boxes.push_back(BoxOnFloor{200, 200, 200, 170, 0, 0});
        return scene;
    }

    void ExpectOrderlyStopWithoutPowerOff(testsupport::ChildProcess& core) {
        ASSERT_EQ(core.WaitExit(), 0);
        const std::string out = core.Output();
        const size_t exiting = out.find("CORE: APPLICATION EXITING\n");
        ASSERT_NE(exiting, std::string::npos) << out;
        EXPECT_NE(out.find(kBanner, exiting), std::string::npos) << out;
        EXPECT_FALSE(testsupport::FileExists(station.Path("shutdown.log")));
    }

    Station station;
};

// Nobody has asked yet: the record's flags start false, so the loop fixes the floor and
// measures once on its own.
TEST_F(VisionProcess, StartUpCalibratesAndMeasuresOnce) {
    auto core = StartWith(OffCentreBox());
    ASSERT_TRUE(core->WaitForOutput("HANDS_CHECKING_TEST1: "));
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return testsupport::FileExists(station.Path("exchange/photo.png")); }));
    const std::string out = core->Output();
    const char* const inOrder[] = {
        "Vision: Lidar serial is SIMCAM000001\n",
        "Vision: Set MAX_DIST1 = 16\n",
        "Vision: Calibrate 1 \n\n",
        "Vision: Set MAX_DIST2 = 1.47\n",
        "Max distance fixed in 1500.000000 mm\n\n",
        "Vision: Calibrate 2 \n\n",
        "HANDS_CHECKING_TEST1: ",
    };
    size_t at = 0;
    for (const char* line : inOrder) {
        const size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << out;
        at = found;
    }
    EXPECT_EQ(out.find("Calibrate 1", out.find("Calibrate 2")), std::string::npos);
    EXPECT_EQ(out.find("HANDS DETECTED"), std::string::npos);
}

// The sides come each up to two pixels (2.6 mm at the box top) short of the true size: the
// contour runs through the centres of the blob's outermost pixels.
TEST_F(VisionProcess, MeasureAnswersTheBoxInTheArea) {
    auto core = StartWith(SimulatedScene{});
    WaitUntilIdle();
    Show(WithBox(BoxOnFloor{400, 300, 200, 0, 0, 0}));
    const nlohmann::json response = Request("measure");
    ASSERT_TRUE(response.is_object()) << core->Output();
    EXPECT_EQ(response["STATUS"], true);
    EXPECT_NEAR(response["X"].get<double>(), 300 - 1.3, 1.4);
    EXPECT_NEAR(response["Y"].get<double>(), 400 - 1.3, 1.4);
    EXPECT_EQ(response["Z"].get<double>(), 200);
    for (const char* flag :
         {"MEASURE_ERROR_EMPTY_X", "MEASURE_ERROR_EMPTY_Y", "MEASURE_ERROR_EMPTY_Z",
          "MEASURE_ERROR_HANDS_DETECTED", "SERVER_ERROR_NO_LIDAR"}) {
        EXPECT_EQ(response[flag], false) << flag;
    }
    EXPECT_TRUE(testsupport::FileExists(station.Path("exchange/photo.png")));
}

// A box standing at the centre during CALIBRATE becomes the floor: heights are then measured
// from its top.
TEST_F(VisionProcess, CalibrateWithABoxAtTheCentreMovesTheFloor) {
    auto core = StartWith(SimulatedScene{});
    WaitUntilIdle();
    Show(WithBox(BoxOnFloor{600, 500, 200, 0, 0, 0}));
    EXPECT_EQ(Request("calibrate")["STATUS"], true);
    EXPECT_TRUE(core->WaitForOutput("Max distance fixed in 1300.000000 mm\n\n"));
    EXPECT_EQ(Request("get-config")["MAX_DEPTH"].get<double>(), 1300);

    Show(WithBox(BoxOnFloor{300, 200, 300, 0, 0, 0}));
    const nlohmann::json response = Request("measure");
    EXPECT_EQ(response["Z"].get<double>(), 100) << core->Output();
    EXPECT_EQ(response["MEASURE_ERROR_EMPTY_Z"], false);
}

// Without automeasure: an automeasure cycle that has begun waits its full time for the vision
// module before the server sees the stop.
TEST_F(VisionProcess, NoCameraStopsInOrder) {
    auto core = station.Start({"disable_scales", "disable_automeasure"}, {{"SIMCAM_SCENE", ""}});
    ExpectOrderlyStopWithoutPowerOff(*core);
    EXPECT_EQ(core->Errors(),
              "The demo requires Realsense camera with RGB sensor\n"
              "The demo requires Realsense camera with DEPTH sensor\n"
              "ERROR[VISION MODULE] : Can't init.\n");
}

// The camera delivers the calibration's frame set and then nothing: the measurement's wait
// gives up after 15 s, and the camera error ends the loop and the process.
TEST_F(VisionProcess, CameraThatStopsDeliveringEndsTheProcessInOrder) {
    SimulatedScene scene = OffCentreBox();
    scene.faults = "stop_after_framesets = 1";
    auto core = StartWith(scene);
    ExpectOrderlyStopWithoutPowerOff(*core);
    const std::string errors = core->Errors();
    EXPECT_EQ(errors.rfind("RealSense error calling rs2_pipeline_wait_for_frames(", 0), 0u)
        << errors;
    EXPECT_NE(errors.find("timeout_ms:15000):\n    Frame didn't arrive within 15000\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(core->Output().find("Vision: Calibrate 2 \n"), std::string::npos);
    EXPECT_EQ(core->Output().find("HANDS_CHECKING_TEST1"), std::string::npos);
}

}  // namespace
