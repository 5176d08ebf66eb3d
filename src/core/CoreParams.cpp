#include "CoreParams.h"

CoreParams* CoreParams::getInstance() {
    static CoreParams instance;
    return &instance;
}
