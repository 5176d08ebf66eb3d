// station-client: sends one command to a running core through its exchange files and prints the
// response. See tools/README.md.
#include <cstdlib>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CoreParams.h"
#include "Documents.h"
#include "Exchange.h"
#include "SettingsFile.h"

namespace {

using nlohmann::json;
using stationclient::Outcome;

enum ExitCode {
    kDone = 0,
    kStatusFalse = 1,
    kUsage = 2,
    kTimedOut = 3,
    kRefused = 4,
    kNotPlaced = 5,
};

const char* const kUsageText =
    "usage: station-client [--dir WORKDIR] [--timeout SECONDS] COMMAND\n"
    "commands: ping | measure | calibrate | get-config | set-config NAME=VALUE... | stop\n";

int Fail(int code, const std::string& message) {
    std::cerr << "station-client: " << message << "\n";
    return code;
}

struct Options {
    std::string workDir = ".";
    double timeoutSeconds = 30;
    std::string command;
    std::vector<std::string> assignments;
};

bool ParseOptions(int argc, char* argv[], Options& options) {
    std::vector<std::string> words(argv + 1, argv + argc);
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if ((word == "--dir" || word == "--timeout") && i + 1 < words.size()) {
            const std::string& value = words[++i];
            if (word == "--dir") {
                options.workDir = value;
                continue;
            }
            char* end = nullptr;
            options.timeoutSeconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(options.timeoutSeconds > 0) ||
                options.timeoutSeconds > 24 * 3600) {
                return false;
            }
        } else if (options.command.empty() && word.rfind("--", 0) != 0) {
            options.command = word;
        } else if (options.command == "set-config") {
            options.assignments.push_back(word);
        } else {
            return false;
        }
    }
    return !options.command.empty() &&
           (options.command == "set-config") == !options.assignments.empty();
}

class Client {
  public:
    Client(stationclient::ExchangePaths paths, double timeoutSeconds)
        : paths_(std::move(paths)), timeout_(static_cast<long long>(timeoutSeconds * 1000)) {}

    // Sends one request; on success `document` holds the parsed response, printed if `print`.
    int Send(const json& request, json& document, bool print = true) {
        const stationclient::Reply reply =
            stationclient::SendRequest(paths_, request.dump(), true, timeout_);
        switch (reply.outcome) {
            case Outcome::Answered:
                break;
            case Outcome::Refused:
                return Fail(kRefused, "the core refused the request (see its console)");
            case Outcome::TimedOut:
                return Fail(kTimedOut, "no response within " + Seconds());
            case Outcome::NotPlaced:
            case Outcome::Consumed:
                return Fail(kNotPlaced, reply.error);
        }
        if (print) {
            std::cout << reply.document << std::flush;
        }
        try {
            document = json::parse(reply.document);
        } catch (const json::exception& error) {
            return Fail(kRefused, std::string("the response is not JSON: ") + error.what());
        }
        const auto status = document.find("STATUS");
        return status != document.end() && *status == false ? kStatusFalse : kDone;
    }

    int Stop() {
        const json request = {{"COMMAND", "APPLICATION_STOP"}};
        const stationclient::Reply reply =
            stationclient::SendRequest(paths_, request.dump(), false, timeout_);
        switch (reply.outcome) {
            case Outcome::Consumed:
            case Outcome::Answered:
                std::cout << "stop request taken by the core\n";
                return kDone;
            case Outcome::TimedOut:
            case Outcome::Refused:
                return Fail(kTimedOut, "the stop request was not taken within " + Seconds());
            case Outcome::NotPlaced:
                break;
        }
        return Fail(kNotPlaced, reply.error);
    }

  private:
    std::string Seconds() const {
        std::ostringstream text;
        text << timeout_.count() / 1000.0 << " s";
        return text.str();
    }

    stationclient::ExchangePaths paths_;
    std::chrono::milliseconds timeout_;
};

// Starts from the core's current parameters so that only the named ones change.
int SetConfiguration(Client& client, const std::vector<std::string>& assignments) {
    std::map<std::string, json> changes;
    for (const std::string& assignment : assignments) {
        const size_t equals = assignment.find('=');
        const std::string name = assignment.substr(0, equals);
        bool known = false;
        for (const char* parameter : servermod::kParameterNames) {
            known = known || name == parameter;
        }
        if (equals == std::string::npos || !known) {
            return Fail(kUsage, "not a parameter assignment: " + assignment);
        }
        try {
            changes[name] = json::parse(assignment.substr(equals + 1));
        } catch (const json::exception&) {
            return Fail(kUsage, "not a JSON value: " + assignment.substr(equals + 1));
        }
    }

    json current;
    const int got = client.Send({{"COMMAND", "GET_CONFIGURATION"}}, current, false);
    if (got != kDone) {
        return got;
    }
    json request = {{"COMMAND", "SET_CONFIGURATION"}};
    for (const char* parameter : servermod::kParameterNames) {
        if (!current.contains(parameter)) {
            return Fail(kRefused, std::string("the configuration lacks ") + parameter);
        }
        request[parameter] = current[parameter];
    }
    for (const auto& [name, value] : changes) {
        request[name] = value;
    }
    json answer;
    return client.Send(request, answer);
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << kUsageText;
        return kUsage;
    }
    const std::map<std::string, const char*> commands = {{"ping", "PING"},
                                                         {"measure", "MEASURE"},
                                                         {"calibrate", "CALIBRATE"},
                                                         {"get-config", "GET_CONFIGURATION"}};
    const bool simple = commands.count(options.command) > 0;
    if (!simple && options.command != "set-config" && options.command != "stop") {
        std::cerr << kUsageText;
        return kUsage;
    }

    const std::string settingsPath = options.workDir + "/configs/appconfig.toml";
    CoreParams* settings = CoreParams::getInstance();
    if (!LoadSettingsFile(settingsPath, *settings)) {
        return Fail(kUsage, "cannot read the settings file " + settingsPath);
    }
    Client client(stationclient::ResolvePaths(*settings, options.workDir), options.timeoutSeconds);

    if (options.command == "stop") {
        return client.Stop();
    }
    if (options.command == "set-config") {
        return SetConfiguration(client, options.assignments);
    }
    json response;
    return client.Send({{"COMMAND", commands.at(options.command)}}, response);
}
