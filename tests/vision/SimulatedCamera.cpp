#include "SimulatedCamera.h"

#include <cstdio>
#include <cstdlib>

namespace visiontest {

SceneFile::SceneFile() : path_(dir_ / "scene.toml") {
    // Set before any camera call of the test, while the test is the only thread.
    setenv("SIMCAM_SCENE", path_.c_str(), 1);
}

SceneFile::~SceneFile() {
    unsetenv("SIMCAM_SCENE");
}

void SceneFile::Show(const visionbench::SimulatedScene& scene) {
    Show(visionbench::SceneToml(scene));
}

void SceneFile::Show(const std::string& toml) {
    // A new file renamed into place, so the camera never reads half a scene.
    testsupport::WriteFileAtomically(path_, toml);
}

FramePair NextFrames(visionmod::Vision& vision) {
    rs2::align alignToDepth(RS2_STREAM_DEPTH);
    rs2::frameset frames = alignToDepth.process(vision.pipe.wait_for_frames());
    return FramePair{vision.thrFilter.process(frames.get_depth_frame()).as<rs2::depth_frame>(),
                     frames.get_color_frame()};
}

ConfigurationStruct TestParameters() {
    ConfigurationStruct parameters;
    parameters.MAX_AREA = 200000;
    return parameters;
}

void ResetSharedState() {
    Configuration::getInstance()->SetAll(TestParameters());
    Measurement* record = Measurement::getInstance();
    record->x = 0;
    record->y = 0;
    record->z = 0;
    record->MEASURE_ERROR_HANDS_DETECTED = false;
    record->MEASURE_ERROR_EMPTY_X = false;
    record->MEASURE_ERROR_EMPTY_Y = false;
    record->MEASURE_ERROR_EMPTY_Z = false;
    record->is_calibrated = true;
    record->is_measured = true;
    CoreParams::getInstance()->APPLICATION_STOP_REQUEST = false;
}

void StartAndCalibrate(visionmod::Vision& vision, SceneFile& scene,
                       const visionbench::SimulatedScene& floor) {
    scene.Show(floor);
    ASSERT_TRUE(vision.Init());
    vision.thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, 16.0f);
    ASSERT_TRUE(vision.FixMaxDistance(NextFrames(vision).depth));
}

}  // namespace visiontest
