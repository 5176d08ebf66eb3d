// The scales service: answers weighing and zeroing requests from the shared record.
#pragma once

namespace scalesmod {

class Scales2 {
  public:
    int Run(bool disable_scales);
};

}  // namespace scalesmod
