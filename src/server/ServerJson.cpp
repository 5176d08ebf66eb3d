#include "ServerJson.h"

#include <unistd.h>

#include "CoreParams.h"

namespace servermod {

int ServerJson::Start() {
    CoreParams* coreParams = CoreParams::getInstance();
    while (!coreParams->APPLICATION_STOP_REQUEST) {
        usleep(100 * 1000);
    }
    return 1;
}

}  // namespace servermod
