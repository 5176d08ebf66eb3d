// The request server: serves the client's request files, asks vision and scales for work through
// the shared record, and writes the response and automeasure documents.
#pragma once

#include <atomic>
#include <string>

#include "Configuration.h"
#include "CoreParams.h"
#include "Measurement.h"

namespace servermod {

class ServerJson {
  public:
    ServerJson();

    // Serves requests pass by pass until the server ends (stop flag, APPLICATION_STOP, a
    // response that cannot be put in place, a critical error); returns 1.
    int Start();

    // Copied from CoreParams by Start.
    std::string RX;
    std::string TX;
    std::string TX_TEMP;
    std::string CORE;
    std::string CORE_TEMP;
    std::string SERVER;
    Measurement* measurement;
    Configuration* configuration;
    // Staging copy of a SET_CONFIGURATION request's parameters.
    ConfigurationStruct configurationStruct;
    // 100 ms polls after which a wait for a module gives up.
    int attemptCount;
    // Largest poll count a calibration wait has reached; only grows.
    int maxAttempt;

  private:
    struct Pass;
    struct ModuleWait;
    enum class Next { GoOn, NextPass, End };

    Next ServeRequest(Pass& pass, CoreParams& coreParams);
    // False when the request was APPLICATION_STOP and the server is to end.
    bool Dispatch(Pass& pass, CoreParams& coreParams);
    void SetConfiguration(Pass& pass);
    void Measure(Pass& pass);
    void Calibrate(Pass& pass);
    void WaitForModule(Pass& pass, const ModuleWait& wait);
    bool WriteResponse(Pass& pass);
    void Automeasure(Pass& pass);
    void Say(const std::string& line) const;
};

}  // namespace servermod
