// The real core process with the mock camera and without scales, seen through its exchange
// files: every command answered, automeasure results, refusals, the stop and a broken path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CoreRun.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using e2e::Station;
using e2e::StationSettings;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WaitFor;

const std::vector<std::string> kMock = {"disable_lidar", "disable_scales", "disable_automeasure"};
const std::vector<std::string> kMockAutomeasure = {"disable_lidar", "disable_scales"};

std::string Fixture(const std::string& name) {
    return ReadFile(std::string(SOURCE_DIR) + "/tests/e2e/fixtures/" + name);
}

std::optional<std::pair<dev_t, ino_t>> Identity(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return std::make_pair(info.st_dev, info.st_ino);
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// The client's side of the exchange, as the board's client does it.
class Client {
  public:
    explicit Client(const Station& station)
        : request_(station.Path("exchange/request.json")),
          response_(station.Path("exchange/response.json")) {}

    // Places `request` whole and returns the response that follows it, with the time from the
    // rename of the request to the new response being in place.
    std::string Send(const std::string& request, std::chrono::microseconds* latency = nullptr) {
        const auto before = Identity(response_);
        testsupport::WriteFile(request_ + ".writing", request);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(std::rename((request_ + ".writing").c_str(), request_.c_str()), 0);
        const auto deadline = start + testsupport::kPatience;
        while (true) {
            const auto now = Identity(response_);
            if (now && now != before) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "no response to " << request;
                return "";
            }
            std::this_thread::sleep_for(1ms);
        }
        if (latency != nullptr) {
            *latency = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start);
        }
        EXPECT_FALSE(FileExists(request_));
        return ReadFile(response_);
    }

  private:
    std::string request_;
    std::string response_;
};

void PrintLatency(const char* command, std::vector<std::chrono::microseconds> samples) {
    std::sort(samples.begin(), samples.end());
    const auto ms = [](std::chrono::microseconds value) { return value.count() / 1000.0; };
    std::cout << command << " latency over " << samples.size() << " requests: min "
              << ms(samples.front()) << " ms, median " << ms(samples[samples.size() / 2])
              << " ms, max " << ms(samples.back()) << " ms" << std::endl;
}

// Latency is printed for information only: it depends on the 100 ms polling of the server, the
// mock camera and the scales loop, and on how busy the machine is.
TEST(ServerExchange, PingAndMeasureAreAnsweredWithTheMockValues) {
    Station station;
    auto core = station.Start(kMock);
    Client client(station);

    std::vector<std::chrono::microseconds> ping(8);
    for (auto& latency : ping) {
        EXPECT_EQ(client.Send(R"({"COMMAND":"PING"})", &latency), Fixture("ping.json"));
    }
    std::vector<std::chrono::microseconds> measure(5);
    for (auto& latency : measure) {
        EXPECT_EQ(client.Send(R"({"COMMAND":"MEASURE"})", &latency), Fixture("measure_mock.json"));
    }
    PrintLatency("PING", ping);
    PrintLatency("MEASURE", measure);
    EXPECT_TRUE(core->WaitForOutput("ServerJson: Test2 Attempt="));
    EXPECT_EQ(core->Errors(), "");
}

// The entry point truncates the settings' region offsets toward zero.
TEST(ServerExchange, GetConfigurationShowsTheDefaultsWithTheTruncatedRegionOffsets) {
    StationSettings settings;
    settings.regionOffsetX = "12.9";
    settings.regionOffsetY = "-3.7";
    Station station(settings);
    auto core = station.Start(kMock);
    EXPECT_EQ(Client(station).Send(R"({"COMMAND":"GET_CONFIGURATION"})"),
              Fixture("get_configuration_defaults.json"));
}

TEST(ServerExchange, AutomeasureFileIsWrittenOnceAndLeftAloneUntilCollected) {
    Station station;
    const std::string automeasure = station.Path("exchange/automeasure.json");
    const std::string created =
        "ServerJson: File created!: CONTENT:  " + Fixture("measure_mock.json");
    auto core = station.Start(kMockAutomeasure);
    ASSERT_TRUE(WaitFor([&] { return FileExists(automeasure); }));
    const auto first = Identity(automeasure);
    const size_t cycles = Count(core->Output(), created);

    // Further cycles show their results on the console but leave the file alone.
    ASSERT_TRUE(WaitFor([&] { return Count(core->Output(), created) >= cycles + 3; }));
    EXPECT_EQ(Identity(automeasure), first);
    EXPECT_EQ(ReadFile(automeasure), Fixture("measure_mock.json"));

    ASSERT_EQ(unlink(automeasure.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return FileExists(automeasure); }));
    EXPECT_EQ(ReadFile(automeasure), Fixture("measure_mock.json"));
    EXPECT_FALSE(FileExists(station.Path("exchange/automeasure.json.tmp")));
}

TEST(ServerExchange, InvalidRequestInAutomeasureModeIsRefusedAndMeasuringGoesOn) {
    Station station;
    auto core = station.Start(kMockAutomeasure);
    ASSERT_TRUE(core->WaitForOutput("ServerJson: File created!: CONTENT:  "));
    testsupport::WriteFileAtomically(station.Path("exchange/request.json"), R"({"COMMAND":)");
    ASSERT_TRUE(core->WaitForOutput(
        "ServerJson: exchange/request.json file exists.\nError occurred: "
        "[json.exception.parse_error.101] parse error at line 1, column 12: syntax error while "
        "parsing value - unexpected end of input; expected '[', '{', or a literal\n"));
    EXPECT_FALSE(FileExists(station.Path("exchange/request.json")));
    EXPECT_FALSE(FileExists(station.Path("exchange/response.json")));

    const std::string output = core->Output();
    const size_t cycles = Count(output, "ServerJson: AUTOMEASURE.");
    EXPECT_EQ(Client(station).Send(R"({"COMMAND":"PING"})"), Fixture("ping.json"));
    EXPECT_TRUE(
        WaitFor([&] { return Count(core->Output(), "ServerJson: AUTOMEASURE.") > cycles; }));
}

TEST(ServerExchange, StopRequestPowersTheBoardOffAndTheProcessExits) {
    Station station;
    auto core = station.Start(kMockAutomeasure);
    ASSERT_TRUE(core->WaitForOutput("ServerJson: AUTOMEASURE."));
    testsupport::WriteFileAtomically(station.Path("exchange/request.json"),
                                     R"({"COMMAND":"APPLICATION_STOP"})");
    ASSERT_EQ(core->WaitExit(), 0);
    EXPECT_EQ(ReadFile(station.Path("shutdown.log")), "-P now\n");
    EXPECT_FALSE(FileExists(station.Path("exchange/response.json")));
    // Left in place, it would stop the station again at the next start.
    EXPECT_FALSE(FileExists(station.Path("exchange/request.json")));
    const std::string output = core->Output();
    const size_t stop = output.find("ServerJson: Command is STOP.\n");
    ASSERT_NE(stop, std::string::npos);
    EXPECT_LT(stop, output.find("CORE: APPLICATION EXITING\n"));
    EXPECT_EQ(output.find("ServerJson: Create file.\n", stop), std::string::npos);
}

size_t ThreadCount(pid_t pid) {
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(tasks),
                                             std::filesystem::directory_iterator()));
}

TEST(ServerExchange, ResponseThatCannotBePutInPlaceSilencesTheServer) {
    StationSettings settings;
    settings.pathOverrides["ResponseTempJsonFilePath"] = "missing/response.json.tmp";
    Station station(settings);
    auto core = station.Start(kMock);
    ASSERT_TRUE(core->WaitForOutput("Vision: Start Mock Lidar\n"));
    const size_t threads = ThreadCount(core->pid());

    testsupport::WriteFileAtomically(station.Path("exchange/request.json"),
                                     R"({"COMMAND":"PING"})");
    ASSERT_TRUE(core->WaitForErrors("Error renaming: No such file or directory\n"));
    EXPECT_EQ(core->Errors(), "Error renaming: No such file or directory\n");
    EXPECT_TRUE(core->WaitForOutput("ServerJson: Create file.\n"));
    EXPECT_FALSE(FileExists(station.Path("exchange/response.json")));
    // The server's thread has ended, so nothing will take a request any more; the rest of the
    // process goes on.
    ASSERT_TRUE(WaitFor([&] { return ThreadCount(core->pid()) == threads - 1; }));
    EXPECT_FALSE(core->WaitExit(0ms).has_value());
}

}  // namespace
