#include "ServerHarness.h"

#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace servertest {

FakeModule::FakeModule(std::atomic<bool>& flag, std::function<void()> work,
                       std::function<bool()> answers, std::chrono::milliseconds initialDelay)
    : delay(initialDelay) {
    thread_ = std::thread([this, &flag, work = std::move(work), answers = std::move(answers)] {
        while (!stop_) {
            if (!flag.load(std::memory_order_acquire) && answers()) {
                std::this_thread::sleep_for(delay.load());
                work();
                flag.store(true, std::memory_order_release);
            }
            std::this_thread::sleep_for(2ms);
        }
    });
}

FakeModule::~FakeModule() {
    stop_ = true;
    thread_.join();
}

std::string Fixture(const std::string& name) {
    return testsupport::ReadFile(std::string(SOURCE_DIR) + "/tests/server/fixtures/" + name);
}

std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return std::make_pair(info.st_dev, info.st_ino);
}

void ServerTest::SetUp() {
    params->APPLICATION_STOP_REQUEST = false;
    params->SHUTDOWN_REQUEST = false;
    params->Automeasure = false;
    params->RequestJsonFilePath = dir / "request.json";
    params->ResponseJsonFilePath = dir / "response.json";
    params->ResponseTempJsonFilePath = dir / "response.json.tmp";
    params->AutomesureJsonFilePath = dir / "automeasure.json";
    params->AutomesureTempJsonFilePath = dir / "automeasure.json.tmp";
    // A wait whose stand-in is gone (at the end of a test) gives up within a second.
    server.attemptCount = 5;
    // Nothing pending, nothing reported.
    record->is_calibrated = true;
    record->is_scales_calibrated = true;
    record->is_measured = true;
    record->is_scaled = true;
    record->x = 0;
    record->y = 0;
    record->z = 0;
    record->weight = 0;
    for (auto* flag : {&record->MEASURE_ERROR_HANDS_DETECTED, &record->MEASURE_ERROR_EMPTY_X,
                       &record->MEASURE_ERROR_EMPTY_Y, &record->MEASURE_ERROR_EMPTY_Z,
                       &record->MEASURE_ERROR_EMPTY_W, &record->SERVER_ERROR_NO_LIDAR,
                       &record->SERVER_ERROR_NO_SCALES}) {
        *flag = false;
    }
}

void ServerTest::TearDown() {
    if (running.valid()) {
        StopServer();
    }
}

void ServerTest::StartServer() {
    params->APPLICATION_STOP_REQUEST = false;
    running = std::async(std::launch::async, [this] { return server.Start(); });
}

int ServerTest::StopServer() {
    params->APPLICATION_STOP_REQUEST = true;
    return running.get();
}

std::string ServerTest::Exchange(const std::string& request) {
    const auto before = FileIdentity(params->ResponseJsonFilePath);
    testsupport::WriteFileAtomically(params->RequestJsonFilePath, request);
    EXPECT_TRUE(testsupport::WaitFor([&] {
        const auto now = FileIdentity(params->ResponseJsonFilePath);
        return now && now != before;
    })) << "no response to "
        << request;
    EXPECT_FALSE(testsupport::FileExists(params->RequestJsonFilePath));
    return testsupport::FileExists(params->ResponseJsonFilePath)
               ? testsupport::ReadFile(params->ResponseJsonFilePath)
               : "";
}

void ServerTest::ExpectRefused(const std::string& request, const std::string& reason) {
    const auto before = FileIdentity(params->ResponseJsonFilePath);
    const size_t from = out.Text().size();
    testsupport::WriteFileAtomically(params->RequestJsonFilePath, request);
    ASSERT_TRUE(testsupport::WaitFor([&] {
        return out.Text().find("Error occurred: ", from) != std::string::npos;
    })) << "not refused: "
        << request.substr(0, 200);
    const std::vector<std::string> lines = LinesSince(from);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "ServerJson: " + params->RequestJsonFilePath + " file exists.");
    const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Error occurred: ", 0) == 0;
    });
    ASSERT_NE(error, lines.end());
    EXPECT_NE(error->find(reason), std::string::npos) << *error;
    // The file is removed before the line is printed, and no response follows a refusal.
    EXPECT_FALSE(testsupport::FileExists(params->RequestJsonFilePath));
    EXPECT_EQ(FileIdentity(params->ResponseJsonFilePath), before);
}

std::vector<std::string> ServerTest::LinesSince(size_t from) {
    std::istringstream text(out.Text().substr(from));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace servertest
