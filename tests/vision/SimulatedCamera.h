// The simulated camera as the vision tests use it: the scene it looks at, and frames taken the
// way the service loop takes them.
#pragma once

#include <librealsense2/rs.hpp>

#include <iostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "SceneModel.h"
#include "TestSupport.h"
#include "Vision.h"

namespace visiontest {

#if STATION_SIMULATED_CAMERA
inline constexpr bool kSimulatedCamera = true;
#else
inline constexpr bool kSimulatedCamera = false;
#endif

// Tests that need the simulated camera start with this; against the real SDK they skip.
#define SKIP_WITHOUT_SIMULATED_CAMERA()                                                         \
    do {                                                                                        \
        if (!::visiontest::kSimulatedCamera) {                                                  \
            GTEST_SKIP() << "built against the real camera SDK: this test needs the simulated " \
                            "camera's scenes";                                                  \
        }                                                                                       \
    } while (false)

// The scene file that SIMCAM_SCENE names for as long as the object lives. The camera reads it
// again before every frame set once it has changed.
class SceneFile {
  public:
    SceneFile();
    ~SceneFile();
    SceneFile(const SceneFile&) = delete;
    SceneFile& operator=(const SceneFile&) = delete;

    void Show(const visionbench::SimulatedScene& scene);
    void Show(const std::string& toml);

  private:
    testsupport::TempDir dir_;
    std::string path_;
};

// Everything written to one of the standard C++ streams (std::cerr, std::clog) while it lives.
class StreamCapture {
  public:
    explicit StreamCapture(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf()) {
        stream_.rdbuf(text_.rdbuf());
    }
    ~StreamCapture() { stream_.rdbuf(saved_); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string Text() const { return text_.str(); }

  private:
    std::ostream& stream_;
    std::streambuf* saved_;
    std::ostringstream text_;
};

// One frame set as the service loop prepares it: aligned to depth, depth through the filter.
struct FramePair {
    rs2::depth_frame depth;
    rs2::video_frame color;
};

FramePair NextFrames(visionmod::Vision& vision);

// Measuring parameters every test starts from: the defaults, except MAX_AREA, whose default
// lies outside its own range and cannot be restored once a test has changed it.
ConfigurationStruct TestParameters();
void ResetSharedState();

// A started camera with its floor fixed from `floor` (an empty floor unless given otherwise),
// as the service loop leaves it after start-up.
void StartAndCalibrate(visionmod::Vision& vision, SceneFile& scene,
                       const visionbench::SimulatedScene& floor);

}  // namespace visiontest
