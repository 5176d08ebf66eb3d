// Fixtures of the simulated camera's tests: a scene file named by the environment, a running
// camera, and a capture of this process's standard error.
#pragma once

#include <librealsense2/rs.hpp>

#include <string>

#include "TestSupport.h"

namespace simcamtest {

// A scene file in a fresh directory, named by SIMCAM_SCENE while this object lives.
class SceneFile {
  public:
    explicit SceneFile(const std::string& toml);
    ~SceneFile();
    SceneFile(const SceneFile&) = delete;
    SceneFile& operator=(const SceneFile&) = delete;

    // Writes the new scene under another name and renames it into place.
    void Replace(const std::string& toml) const;
    const std::string& path() const { return path_; }

  private:
    testsupport::TempDir dir_;
    std::string path_;
};

// A pipeline streaming the scene's default streams (depth, and colour where there is one).
struct Camera {
    Camera();

    rs2::pipeline pipe;
    rs2::pipeline_profile profile;
};

// The first frame set of a camera looking at `toml`.
rs2::frameset FrameSetOf(const std::string& toml);

// The Z16 value at a pixel.
int Z16(const rs2::depth_frame& depth, int x, int y);

// Everything written to file descriptor 2 while it lives.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string Text() const;

  private:
    testsupport::TempDir dir_;
    int saved_ = -1;
};

}  // namespace simcamtest
