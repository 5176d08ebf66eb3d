// Turns a module's numeric error code into its fixed message on standard error.
#pragma once

#include <string>

enum ModuleEnum : int {
    UNKNOWN = 0,
    SERVER = 1,
    SCALES = 2,
    VISION = 3,
    CORE = 4,
};

class ErrorParser {
  public:
    explicit ErrorParser(ModuleEnum owner);

    void Print(int code);

    ModuleEnum module;
    std::string output;
};
