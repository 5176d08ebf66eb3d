#include "ServerJson.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>

#include "Documents.h"
#include "ExchangeFiles.h"

namespace servermod {

namespace {

constexpr useconds_t kPassPause = 100 * 1000;
constexpr useconds_t kPollPause = 100 * 1000;

constexpr const char* kVisionWaiting = "Waiting for Vision (Measure)...";
constexpr const char* kVisionSilent = "VISION MODULE IS NOT RESPONDING";
constexpr const char* kScalesWaiting = "Waiting for Scales...";
constexpr const char* kScalesSilent = "SCALES MODULE IS NOT RESPONDING";

}  // namespace

// Created afresh for every pass.
struct ServerJson::Pass {
    // Some wait of this pass gave up; it carries from a request into the automeasure cycle.
    bool errorFlg = false;
    int attempt = 0;
    json jf_in;
    json jf_out;
    json jf_core_out;
};

struct ServerJson::ModuleWait {
    std::atomic<bool> Measurement::*flag;
    const char* waitingLine;
    const char* notResponding;
    std::atomic<bool> Measurement::*serverError;
    const char* reportLabel;
};

ServerJson::ServerJson()
    : SERVER("ServerJson: "),
      measurement(Measurement::getInstance()),
      configuration(Configuration::getInstance()),
      attemptCount(1000),
      maxAttempt(0) {}

void ServerJson::Say(const std::string& line) const {
    // One write per line, so that lines of other threads never land inside it.
    std::cout << line + "\n" << std::flush;
}

int ServerJson::Start() {
    CoreParams* coreParams = CoreParams::getInstance();
    RX = coreParams->RequestJsonFilePath;
    TX = coreParams->ResponseJsonFilePath;
    TX_TEMP = coreParams->ResponseTempJsonFilePath;
    CORE = coreParams->AutomesureJsonFilePath;
    CORE_TEMP = coreParams->AutomesureTempJsonFilePath;

    while (!coreParams->APPLICATION_STOP_REQUEST) {
        try {
            Pass pass;
            measurement->SERVER_ERROR_NO_LIDAR = false;
            measurement->SERVER_ERROR_NO_SCALES = false;
            if (OpensForReading(RX)) {
                Say(SERVER + RX + " file exists.");
                const Next next = ServeRequest(pass, *coreParams);
                if (next == Next::End) {
                    return 1;
                }
                if (next == Next::NextPass) {
                    continue;
                }
            }
            if (coreParams->Automeasure) {
                Automeasure(pass);
            }
            usleep(kPassPause);
        } catch (const std::exception& error) {
            coreParams->APPLICATION_STOP_REQUEST = true;
            Say(SERVER + RX + " CRITICAL ERROR. MODULE CLOSING.");
            Say(std::string("Error occurred: ") + error.what());
            return 1;
        }
    }
    return 1;
}

ServerJson::Next ServerJson::ServeRequest(Pass& pass, CoreParams& coreParams) {
    pass.jf_out = nullptr;
    try {
        pass.jf_in = ParseRequest(ReadRequestFile(RX));
        if (!Dispatch(pass, coreParams)) {
            // Left in place, the stop request would be read again at the next start and stop
            // the station (and power the board off) at once.
            std::remove(RX.c_str());
            return Next::End;
        }
    } catch (const std::exception& error) {
        std::remove(RX.c_str());
        Say(std::string("Error occurred: ") + error.what());
        return Next::NextPass;
    }
    std::remove(RX.c_str());
    return WriteResponse(pass) ? Next::GoOn : Next::End;
}

bool ServerJson::Dispatch(Pass& pass, CoreParams& coreParams) {
    const json& request = pass.jf_in;
    if (!request.is_object() || !request.contains("COMMAND")) {
        Say(SERVER + "Correct json not found.");
        pass.jf_out["STATUS"] = false;
        return true;
    }
    const json& command = request.at("COMMAND");
    if (command == "SET_CONFIGURATION") {
        SetConfiguration(pass);
    } else if (command == "GET_CONFIGURATION") {
        Say(SERVER + "Command is GET_CONFIGURATION.");
        AddParameters(pass.jf_out, configuration->GetAll());
    } else if (command == "APPLICATION_STOP") {
        Say(SERVER + "Command is STOP.");
        coreParams.APPLICATION_STOP_REQUEST = true;
        coreParams.SHUTDOWN_REQUEST = true;
        return false;
    } else if (command == "PING") {
        Say(SERVER + "Command is PING.");
        pass.jf_out["STATUS"] = true;
    } else if (command == "MEASURE") {
        Measure(pass);
    } else if (command == "CALIBRATE") {
        Calibrate(pass);
    } else {
        Say(SERVER + "Correct json command not found.");
        pass.jf_out["STATUS"] = false;
    }
    return true;
}

void ServerJson::SetConfiguration(Pass& pass) {
    Say(SERVER + "Command is SET_CONFIGURATION.");
    const bool status = HasAllParameters(pass.jf_in);
    Say(std::string("Test:") + " Status = " + (status ? "1" : "0"));
    if (!status) {
        pass.jf_out["STATUS"] = false;
        return;
    }
    Say("Test: 11");
    for (const char* name : kParameterNames) {
        Say(std::string("Test: ") + name + " = " + pass.jf_in.at(name).dump());
    }
    ReadParameters(pass.jf_in, configurationStruct);
    pass.jf_out["STATUS"] = configuration->SetAll(configurationStruct);
}

void ServerJson::Measure(Pass& pass) {
    Say(SERVER + "Command is MEASURE.");
    Say(SERVER + "MAX ATTEMPT DETECTED=" + std::to_string(maxAttempt));
    WaitForModule(pass, {&Measurement::is_measured, kVisionWaiting, kVisionSilent,
                         &Measurement::SERVER_ERROR_NO_LIDAR, "Test1 Attempt="});
    AddDimensions(pass.jf_out, *measurement);
    // Weighed only once the box has been measured, never both at once.
    WaitForModule(pass, {&Measurement::is_scaled, kScalesWaiting, kScalesSilent,
                         &Measurement::SERVER_ERROR_NO_SCALES, "Test2 Attempt="});
    pass.jf_out["W"] = measurement->weight.load();
    pass.jf_out["STATUS"] = !pass.errorFlg;
}

void ServerJson::Calibrate(Pass& pass) {
    Say(SERVER + "Command is CALIBRATE.");
    Say(SERVER + "MAX ATTEMPT DETECTED=" + std::to_string(maxAttempt));
    std::atomic<bool>& vision = measurement->is_calibrated;
    std::atomic<bool>& scales = measurement->is_scales_calibrated;
    vision = false;
    scales = false;
    Say(SERVER + "Waiting for Vision,Scales (Calibrate)...");
    pass.attempt = 0;
    while (!(vision.load(std::memory_order_acquire) && scales.load(std::memory_order_acquire))) {
        usleep(kPollPause);
        if (pass.attempt >= attemptCount) {
            Say(SERVER + "VISION MODULE OR SCALES MODULE IS NOT RESPONDING\n");
            pass.errorFlg = true;
            // Like the measuring waits, name the module that did not answer.
            if (!vision.load(std::memory_order_acquire)) {
                measurement->SERVER_ERROR_NO_LIDAR = true;
            }
            if (!scales.load(std::memory_order_acquire)) {
                measurement->SERVER_ERROR_NO_SCALES = true;
            }
            break;
        }
        ++pass.attempt;
        if (pass.attempt > maxAttempt) {
            maxAttempt = pass.attempt;
        }
    }
    Say(SERVER + "Test3 Attempt=" + std::to_string(pass.attempt) +
        " Limit=" + std::to_string(attemptCount));
    pass.jf_out["STATUS"] = !pass.errorFlg;
}

void ServerJson::WaitForModule(Pass& pass, const ModuleWait& wait) {
    std::atomic<bool>& flag = measurement->*wait.flag;
    flag = false;
    Say(SERVER + wait.waitingLine);
    pass.attempt = 0;
    while (!flag.load(std::memory_order_acquire)) {
        usleep(kPollPause);
        if (pass.attempt >= attemptCount) {
            Say(SERVER + wait.notResponding + "\n");
            pass.errorFlg = true;
            measurement->*wait.serverError = true;
            break;
        }
        ++pass.attempt;
    }
    Say(SERVER + wait.reportLabel + std::to_string(pass.attempt) +
        " Limit=" + std::to_string(attemptCount));
}

bool ServerJson::WriteResponse(Pass& pass) {
    AddErrorMembers(pass.jf_out, *measurement);
    Say(SERVER + "Create file.");
    if (!PublishDocument(TX_TEMP, TX, Serialise(pass.jf_out))) {
        std::perror("Error renaming");
        return false;
    }
    return true;
}

void ServerJson::Automeasure(Pass& pass) {
    pass.jf_core_out = nullptr;
    Say(SERVER + "AUTOMEASURE.");
    WaitForModule(pass, {&Measurement::is_measured, kVisionWaiting, kVisionSilent,
                         &Measurement::SERVER_ERROR_NO_LIDAR, "Test4 Attempt="});
    AddDimensions(pass.jf_core_out, *measurement);
    WaitForModule(pass, {&Measurement::is_scaled, kScalesWaiting, kScalesSilent,
                         &Measurement::SERVER_ERROR_NO_SCALES, "Test5 Attempt="});
    pass.jf_core_out["W"] = measurement->weight.load();
    pass.jf_core_out["STATUS"] = !pass.errorFlg;
    AddErrorMembers(pass.jf_core_out, *measurement);
    const std::string document = Serialise(pass.jf_core_out);
    // The next result is stored only once the client has collected the last one; a failed
    // rename is not retried, the next cycle brings a newer result anyway.
    if (!OpensForReading(CORE)) {
        PublishDocument(CORE_TEMP, CORE, document);
    }
    std::cout << SERVER + "File created!: CONTENT:  " + document << std::flush;
}

}  // namespace servermod
