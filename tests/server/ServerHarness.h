// Runs the request server in this process against a temporary exchange folder, with small
// worker threads standing in for the vision and scales services.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "CoreParams.h"
#include "Measurement.h"
#include "ServerJson.h"
#include "TestSupport.h"

namespace servertest {

using namespace std::chrono_literals;

// Serves one completion flag the way a module loop does: finding it false (and `answers`
// allowing it), it waits `delay`, does `work` and then sets the flag with release order.
class FakeModule {
  public:
    explicit FakeModule(
        std::atomic<bool>& flag, std::function<void()> work = [] {},
        std::function<bool()> answers = [] { return true; }, std::chrono::milliseconds delay = 0ms);
    ~FakeModule();
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    std::atomic<std::chrono::milliseconds> delay;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The expected document stored under tests/server/fixtures.
std::string Fixture(const std::string& name);

// Identity of the file now at `path`, so that a replacement can be told from the old file.
std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::string& path);

class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void StartServer();
    // Raises the stop flag and returns what Start returned.
    int StopServer();

    // Places `request` whole in the request file and returns the response that replaces the
    // current response file.
    std::string Exchange(const std::string& request);
    // Places `request` and waits until the server has refused it ("Error occurred: ").
    void ExpectRefused(const std::string& request, const std::string& reason);

    // The console lines printed from `from` (a byte offset into the captured text) on.
    std::vector<std::string> LinesSince(size_t from);

    testsupport::TempDir dir;
    CoreParams* params = CoreParams::getInstance();
    Measurement* record = Measurement::getInstance();
    testsupport::StdoutCapture out;
    servermod::ServerJson server;
    std::future<int> running;
};

}  // namespace servertest
