#include "SimcamTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <simcam/scene.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace simcamtest {

SceneFile::SceneFile(const std::string& toml) : path_(dir_ / "scene.toml") {
    testsupport::WriteFile(path_, toml);
    setenv(simcam::kSceneVariable, path_.c_str(), 1);
}

SceneFile::~SceneFile() {
    unsetenv(simcam::kSceneVariable);
}

void SceneFile::Replace(const std::string& toml) const {
    testsupport::WriteFileAtomically(path_, toml);
}

Camera::Camera() : profile(pipe.start(rs2::config())) {}

rs2::frameset FrameSetOf(const std::string& toml) {
    const SceneFile scene(toml);
    Camera camera;
    return camera.pipe.wait_for_frames();
}

int Z16(const rs2::depth_frame& depth, int x, int y) {
    const auto* values = static_cast<const std::uint16_t*>(depth.get_data());
    return values[y * depth.get_width() + x];
}

StderrCapture::StderrCapture() {
    const std::string path = dir_ / "stderr";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    saved_ = dup(2);
    if (fd < 0 || saved_ < 0 || dup2(fd, 2) < 0) {
        throw std::runtime_error("cannot capture standard error");
    }
    close(fd);
}

StderrCapture::~StderrCapture() {
    dup2(saved_, 2);
    close(saved_);
}

std::string StderrCapture::Text() const {
    return testsupport::ReadFile(dir_ / "stderr");
}

}  // namespace simcamtest
