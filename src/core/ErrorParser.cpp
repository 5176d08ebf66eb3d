#include "ErrorParser.h"

#include <iostream>

namespace {

struct ModuleMessages {
    const char* prefix;
    const char* codes[3];  // texts for codes 1 to 3
    const char* other;     // text for any other code
};

// Indexed by ModuleEnum. Some texts end in a newline and some do not; callers rely on both.
const ModuleMessages kMessages[] = {
    {"ERROR[UNKNOWN MODULE] : ", {"...", "...", "..."}, "..."},
    {"ERROR[SERVER MODULE] : ",
     {"Cannot execute file delete command.\n", "Cannot clear socket file.\n", "ERROR 3"},
     ""},
    {"ERROR[SCALES MODULE] : ", {"ERROR 1", "ERROR 2", "ERROR 3"}, ""},
    {"ERROR[VISION MODULE] : ", {"Can't init.\n", "", ""}, ""},
    {"ERROR[CORE MODULE] : ", {"Server closed.\n", "ERROR 2", "ERROR 3"}, ""},
};

}  // namespace

ErrorParser::ErrorParser(ModuleEnum owner) : module(owner) {}

void ErrorParser::Print(int code) {
    const int index = static_cast<int>(module);
    if (index >= UNKNOWN && index <= CORE) {
        const ModuleMessages& messages = kMessages[index];
        output = messages.prefix;
        output += (code >= 1 && code <= 3) ? messages.codes[code - 1] : messages.other;
    }
    std::cerr << output;
}
