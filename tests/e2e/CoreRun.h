// Runs the real core program in a temporary working directory of its own.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace e2e {

// Settings values that a test may change; the paths point into the working directory.
struct StationSettings {
    std::string regionOffsetX = "0";
    std::string regionOffsetY = "40";
    std::string regionWidth = "680";
    std::string regionHeight = "550";
    std::map<std::string, std::string> pathOverrides;
};

// A working directory laid out as on the board: configs/appconfig.toml, an exchange folder and
// a "shutdown" script that records its arguments to shutdown.log instead of powering off.
class Station {
  public:
    explicit Station(const StationSettings& settings = {});

    std::string Path(const std::string& relative) const { return dir_ / relative; }
    const std::string& Dir() const { return dir_.path(); }
    std::unique_ptr<testsupport::ChildProcess> Start(
        const std::vector<std::string>& words,
        const std::map<std::string, std::string>& extraEnv = {}) const;

  private:
    testsupport::TempDir dir_;
};

}  // namespace e2e
