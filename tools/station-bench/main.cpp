// End-to-end figures of a running station: the real core with the simulated camera and the
// scales simulator, driven through its exchange files as a client drives it.
//
//   station-bench [--requests N] [--measurements N] [--idle SECONDS] [--scene FILE]
//
// Prints request-to-response latency for PING and MEASURE (median, 95th percentile, maximum),
// the automeasure cycle rate, the core's CPU use idle and during automeasure, and its resident
// memory at start and after N measurements.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::ChildProcess;

constexpr char kScalesPath[] = "/dev/ttySCALES0";

struct Options {
    int requests = 100;
    int measurements = 1000;
    int idleSeconds = 10;
    std::string scene = SOURCE_DIR "/simcam/scenes/box-centred.toml";
};

Options ParseOptions(int argc, char* argv[]) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--requests" && hasValue) {
            options.requests = std::atoi(argv[++i]);
        } else if (word == "--measurements" && hasValue) {
            options.measurements = std::atoi(argv[++i]);
        } else if (word == "--idle" && hasValue) {
            options.idleSeconds = std::atoi(argv[++i]);
        } else if (word == "--scene" && hasValue) {
            options.scene = argv[++i];
        } else {
            std::cerr << "usage: station-bench [--requests N] [--measurements N] "
                         "[--idle SECONDS] [--scene FILE]\n";
            std::exit(2);
        }
    }
    if (options.requests < 1 || options.measurements < 1 || options.idleSeconds < 1) {
        std::cerr << "station-bench: counts and seconds must be positive\n";
        std::exit(2);
    }
    return options;
}

// A working directory laid out like the board's.
void MakeStation(const std::string& dir) {
    mkdir((dir + "/configs").c_str(), 0755);
    mkdir((dir + "/exchange").c_str(), 0755);
    std::ifstream settings(SOURCE_DIR "/configs/appconfig.toml");
    std::ofstream(dir + "/configs/appconfig.toml") << settings.rdbuf();
    std::ifstream picture(SOURCE_DIR "/configs/mock.png", std::ios::binary);
    std::ofstream(dir + "/configs/mock.png", std::ios::binary) << picture.rdbuf();
    std::ofstream(dir + "/shutdown") << "#!/bin/sh\necho \"$@\" >> shutdown.log\n";
}

// The identity of the file at `path`: a new response is a new file renamed into place.
std::optional<ino_t> Inode(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return info.st_ino;
}

// One request placed whole; the time until its response is in place, in milliseconds.
double Exchange(const std::string& dir, const std::string& request) {
    const std::string response = dir + "/exchange/response.json";
    const auto before = Inode(response);
    testsupport::WriteFileAtomically(dir + "/exchange/request.json", request);
    const auto start = Clock::now();
    if (!testsupport::WaitFor([&] { return Inode(response) != before; }, 300s)) {
        std::cerr << "station-bench: no response to " << request << "\n";
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void PrintLatency(const char* name, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<size_t>(q * (ms.size() - 1) + 0.5)]; };
    std::printf("%-8s latency over %3zu requests: median %7.1f ms, p95 %7.1f ms, max %7.1f ms\n",
                name, ms.size(), at(0.5), at(0.95), ms.back());
}

// User plus system CPU time of a process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stol(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Share of one core the process used over `seconds`, in percent.
double CpuPercent(pid_t pid, int seconds) {
    const double before = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 100.0 * (CpuSeconds(pid) - before) / seconds;
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

void Stop(const std::string& dir, ChildProcess& core) {
    testsupport::WriteFileAtomically(dir + "/exchange/request.json",
                                     R"({"COMMAND":"APPLICATION_STOP"})");
    if (core.WaitExit(60s) != 0) {
        std::cerr << "station-bench: the core did not stop in order\n";
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const Options options = ParseOptions(argc, argv);
    testsupport::TempDir station;
    MakeStation(station.path());
    // The core takes whatever it sees at the image centre at start as the floor, so it starts
    // on an empty floor and the box is put in place once the floor is fixed.
    const std::string scene = station / "scene.toml";
    const std::string emptyFloor = "[camera]\nfloor_distance = 1500\n";
    const std::map<std::string, std::string> environment = {{"SIMCAM_SCENE", scene}};
    std::unique_ptr<ChildProcess> scales;
    const auto placeBox = [&] {
        testsupport::WriteFileAtomically(scene, testsupport::ReadFile(options.scene));
        if (scales) {
            scales->Input("weight 1.25\n");
        }
    };
    const auto clearArea = [&] {
        testsupport::WriteFileAtomically(scene, emptyFloor);
        if (scales) {
            scales->Input("weight 0\n");
        }
    };

    // Real scales need the fixed device path, which only root may link.
    std::vector<std::string> words;
    if (geteuid() == 0 && !testsupport::FileExists(kScalesPath)) {
        // The platform is empty when the core starts (and zeroes it); the box weighs 1.25 kg.
        scales = std::make_unique<ChildProcess>(SCALES_SIM_BINARY,
                                                std::vector<std::string>{"--weight", "0"}, "",
                                                std::map<std::string, std::string>{}, true);
        if (!scales->WaitForOutput(std::string(kScalesPath) + " links to ")) {
            std::cerr << "station-bench: the scales simulator did not start\n";
            return 1;
        }
        std::printf("scales: simulator at %s\n", kScalesPath);
    } else {
        words.push_back("disable_scales");
        std::printf("scales: disabled (%s)\n",
                    geteuid() != 0 ? "not root" : "something already stands at /dev/ttySCALES0");
    }
    std::printf("camera: simulated, scene %s\n\n", options.scene.c_str());

    // Requests, with automeasure off so that each one meets an idle server.
    std::vector<std::string> requestWords = words;
    requestWords.push_back("disable_automeasure");
    {
        clearArea();
        ChildProcess core(CORE_BINARY, requestWords, station.path(), environment);
        if (!core.WaitForOutput("Max distance fixed in", 60s)) {
            std::cerr << "station-bench: the core did not calibrate\n"
                      << core.Output() << core.Errors();
            return 1;
        }
        placeBox();
        // The measurement the core makes unasked after calibrating is out of the figures.
        Exchange(station.path(), R"({"COMMAND":"MEASURE"})");
        std::printf("resident memory after start-up:        %6ld KiB\n", ResidentKiB(core.pid()));
        std::printf("CPU while idle (%2d s):                  %6.1f %% of one core\n",
                    options.idleSeconds, CpuPercent(core.pid(), options.idleSeconds));

        std::vector<double> ping;
        std::vector<double> measure;
        for (int i = 0; i < options.requests; ++i) {
            ping.push_back(Exchange(station.path(), R"({"COMMAND":"PING"})"));
        }
        for (int i = 0; i < options.requests; ++i) {
            measure.push_back(Exchange(station.path(), R"({"COMMAND":"MEASURE"})"));
        }
        PrintLatency("PING", ping);
        PrintLatency("MEASURE", measure);
        std::printf("last MEASURE answer: %s",
                    testsupport::ReadFile(station / "exchange/response.json").c_str());
        Stop(station.path(), core);
    }

    // Automeasure: the server measures and weighs cycle after cycle on its own.
    {
        clearArea();
        ChildProcess core(CORE_BINARY, words, station.path(), environment);
        if (!core.WaitForOutput("Max distance fixed in", 60s)) {
            std::cerr << "station-bench: the core did not calibrate\n" << core.Errors();
            return 1;
        }
        placeBox();
        const std::string cycle = "ServerJson: File created!: CONTENT:";
        if (!core.WaitForOutput(cycle, 60s)) {
            std::cerr << "station-bench: no automeasure cycle\n" << core.Errors();
            return 1;
        }
        std::printf("\nresident memory after the first cycle:  %6ld KiB\n",
                    ResidentKiB(core.pid()));
        const auto start = Clock::now();
        const size_t startCycles = Count(core.Output(), cycle);
        const double cpu = CpuPercent(core.pid(), options.idleSeconds);
        const size_t cycles = Count(core.Output(), cycle) - startCycles;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("automeasure cycle rate:                 %6.2f cycles/s (%zu in %.1f s)\n",
                    cycles / seconds, cycles, seconds);
        std::printf("CPU during automeasure:                 %6.1f %% of one core\n", cpu);

        const auto wanted = static_cast<size_t>(options.measurements);
        const bool reached = testsupport::WaitFor(
            [&] { return Count(core.Output(), cycle) >= wanted; }, std::chrono::hours(2));
        std::printf("resident memory after %5zu measurements: %6ld KiB%s\n",
                    Count(core.Output(), cycle), ResidentKiB(core.pid()),
                    reached ? "" : " (stopped waiting)");
        Stop(station.path(), core);
    }
    return 0;
}
