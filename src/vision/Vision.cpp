#include "Vision.h"

#include <unistd.h>

#include "CoreParams.h"

namespace visionmod {

int Vision::Run(bool disable_lidar) {
    if (!disable_lidar) {
        errror_parser.Print(1);
        return 1;
    }
    CoreParams* coreParams = CoreParams::getInstance();
    while (!coreParams->APPLICATION_STOP_REQUEST) {
        usleep(100 * 1000);
    }
    return 0;
}

}  // namespace visionmod
