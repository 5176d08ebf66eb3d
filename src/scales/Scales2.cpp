#include "Scales2.h"

#include <unistd.h>

#include "CoreParams.h"

namespace scalesmod {

int Scales2::Run(bool) {
    CoreParams* coreParams = CoreParams::getInstance();
    while (!coreParams->APPLICATION_STOP_REQUEST) {
        usleep(100 * 1000);
    }
    return 1;
}

}  // namespace scalesmod
