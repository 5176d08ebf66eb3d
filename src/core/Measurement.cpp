#include "Measurement.h"

Measurement* Measurement::getInstance() {
    static Measurement instance;
    return &instance;
}
