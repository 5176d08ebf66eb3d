// scales-sim: scales on a pseudo-terminal for people and tests. Usage and commands:
// tools/README.md.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ScalesSimulator.h"

namespace {

using scalessim::Fault;
using scalessim::Reading;
using scalessim::ScalesSimulator;

constexpr char kScalesPath[] = "/dev/ttySCALES0";
constexpr char kUsage[] =
    "usage: scales-sim [--weight KG] [--settled 0|1] [--code N] [--link[=PATH] | --no-link]\n"
    "commands on standard input: weight KG, settled 0|1, code N, fault MODE [COUNT], unplug,\n"
    "status, quit; MODE is none, silent, late, partial or garbage\n";

void Say(const std::string& line) {
    std::cout << "scales-sim: " << line << std::endl;
}

std::optional<double> ParseNumber(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseCount(const std::string& text, int lowest, int highest) {
    const auto value = ParseNumber(text);
    if (!value || *value != static_cast<int>(*value) || *value < lowest || *value > highest) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::string Describe(const scalessim::Status& status) {
    std::ostringstream text;
    if (status.unplugged) {
        text << "unplugged, ";
    }
    text << "weight " << status.reading.weightKg << " kg, "
         << (status.reading.settled ? "settled" : "not settled") << ", code " << status.reading.code
         << ", fault " << scalessim::FaultName(status.fault);
    if (status.fault != Fault::kNone) {
        text << " for " << status.faultCount;
    }
    text << ", " << status.requests << " requests, " << status.staleBytes << " stale bytes";
    return text.str();
}

// Carries out one command given as words; false when it is not understood.
bool Apply(ScalesSimulator& simulator, const std::vector<std::string>& words) {
    const std::string& command = words[0];
    const std::string argument = words.size() > 1 ? words[1] : "";
    if (command == "weight" && words.size() == 2) {
        const auto kg = ParseNumber(argument);
        if (kg) {
            simulator.SetWeight(*kg);
        }
        return kg.has_value();
    }
    if (command == "settled" && words.size() == 2) {
        const auto settled = ParseCount(argument, 0, 1);
        if (settled) {
            simulator.SetSettled(*settled == 1);
        }
        return settled.has_value();
    }
    if (command == "code" && words.size() == 2) {
        const auto code = ParseCount(argument, 0, 255);
        if (code) {
            simulator.SetCode(*code);
        }
        return code.has_value();
    }
    if (command == "fault" && (words.size() == 2 || words.size() == 3)) {
        const auto fault = scalessim::FaultFromName(argument);
        const auto count = words.size() == 3 ? ParseCount(words[2], 1, 1000000000) : 1;
        if (fault && count) {
            simulator.SetFault(*fault, *count);
        }
        return fault && count;
    }
    if (command == "unplug" && words.size() == 1) {
        simulator.Unplug();
        return true;
    }
    return command == "status" && words.size() == 1;
}

// Handles one command line; false when the simulator should end.
bool Command(ScalesSimulator& simulator, const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    if (words.empty()) {
        return true;
    }
    if (words.size() == 1 && words[0] == "quit") {
        return false;
    }
    if (Apply(simulator, words)) {
        Say(Describe(simulator.GetStatus()));
    } else {
        Say("cannot understand '" + line + "'");
        std::cout << kUsage << std::flush;
    }
    return true;
}

// Serves commands until "quit" or a stop signal. At the end of the input it goes on answering
// requests until a signal ends it, so that it can run detached from a terminal.
void CommandLoop(ScalesSimulator& simulator, int signals) {
    bool inputOpen = true;
    std::string pending;
    while (true) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        char buffer[512];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            inputOpen = false;
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!Command(simulator, line)) {
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    Reading initial;
    std::string linkPath = geteuid() == 0 ? kScalesPath : "";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--weight" && ParseNumber(value)) {
            initial.weightKg = *ParseNumber(value);
            ++i;
        } else if (option == "--settled" && ParseCount(value, 0, 1)) {
            initial.settled = *ParseCount(value, 0, 1) == 1;
            ++i;
        } else if (option == "--code" && ParseCount(value, 0, 255)) {
            initial.code = *ParseCount(value, 0, 255);
            ++i;
        } else if (option == "--link") {
            linkPath = kScalesPath;
        } else if (option.rfind("--link=", 0) == 0 && option.size() > 7) {
            linkPath = option.substr(7);
        } else if (option == "--no-link") {
            linkPath.clear();
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }

    // Stop signals are taken through a descriptor, in this thread only, so that the link is
    // removed on every way out; a reader of standard output that goes away is no reason to
    // leave it behind either.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stops, SFD_CLOEXEC);
    if (signals < 0) {
        std::cerr << "scales-sim: signalfd failed" << std::endl;
        return 1;
    }

    try {
        ScalesSimulator simulator(initial);
        Say("pseudo-terminal " + simulator.SlavePath());
        if (!linkPath.empty()) {
            simulator.Link(linkPath);
            Say(linkPath + " links to " + simulator.SlavePath());
        }
        Say(Describe(simulator.GetStatus()));
        CommandLoop(simulator, signals);
    } catch (const std::exception& error) {
        std::cerr << "scales-sim: " << error.what() << std::endl;
        return 1;
    }
    Say("stopped");
    return 0;
}
