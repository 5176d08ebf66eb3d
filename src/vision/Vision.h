// The vision module: owns the depth camera and measures boxes.
#pragma once

#include "ErrorParser.h"

namespace visionmod {

class Vision {
  public:
    int Run(bool disable_lidar);

    ErrorParser errror_parser{VISION};
};

}  // namespace visionmod
