// The request server: answers the client's request files.
#pragma once

namespace servermod {

class ServerJson {
  public:
    int Start();
};

}  // namespace servermod
