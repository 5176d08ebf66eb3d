// The vision module: owns the depth camera and measures boxes.
#pragma once

#include <string>

#include "Configuration.h"
#include "CoreParams.h"
#include "ErrorParser.h"
#include "Measurement.h"

namespace visionmod {

class Vision {
  public:
    Vision();

    // Serves calibration and measurement requests until the application stops.
    // 0: stopped on request; 1: the mock picture could not be put in place; 2: an error.
    int Run(bool disable_lidar);

    ErrorParser errror_parser;
    bool handsCheckingEnabled = true;
    std::string VISION = "Vision: ";
    Measurement* measurement;
    CoreParams* coreParams;
    Configuration* configuration;

  private:
    int RunMock();
};

}  // namespace visionmod
