// The client's side of the file exchange with the core: place one request whole, then wait for
// the response that the core puts in place for it.
#pragma once

#include <chrono>
#include <string>

#include "CoreParams.h"

namespace stationclient {

struct ExchangePaths {
    std::string request;
    std::string requestTemp;
    std::string response;
};

// The settings' paths, relative ones taken from `workDir` as the core takes them from its
// working directory.
ExchangePaths ResolvePaths(const CoreParams& settings, const std::string& workDir);

enum class Outcome {
    Answered,   // `document` holds the new response
    Consumed,   // the core took the request (no response was expected)
    Refused,    // the core took the request and wrote no response
    TimedOut,   // nothing happened in time; a request still in place is withdrawn
    NotPlaced,  // the request could not be placed; `error` says why
};

struct Reply {
    Outcome outcome;
    std::string document;
    std::string error;
};

// Writes `request` under the temporary name, renames it into place and waits up to `timeout`.
Reply SendRequest(const ExchangePaths& paths, const std::string& request, bool expectResponse,
                  std::chrono::milliseconds timeout);

}  // namespace stationclient
