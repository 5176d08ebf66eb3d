// The scales service: answers weighing and zeroing requests from the shared record.
#pragma once

#include "Measurement.h"

namespace scalesmod {

class Scales2 {
  public:
    Scales2();

    // Serves requests until the application stops; returns 1 when it ends.
    int Run(bool disable_scales);

    Measurement* measurement;

  private:
    int RunWithoutScales();
};

}  // namespace scalesmod
