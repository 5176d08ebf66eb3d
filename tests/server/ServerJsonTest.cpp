// The request server in this process: every command's document, console lines and waits, with
// stand-in threads for the vision and scales services.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Configuration.h"
#include "Documents.h"
#include "ServerHarness.h"

namespace servertest {
namespace {

using Lines = std::vector<std::string>;
using testsupport::FileExists;
using testsupport::kPatience;
using testsupport::ReadFile;
using testsupport::WaitFor;

constexpr const char* kPing = R"({"COMMAND":"PING"})";
constexpr const char* kMeasure = R"({"COMMAND":"MEASURE"})";
constexpr const char* kCalibrate = R"({"COMMAND":"CALIBRATE"})";

const auto kAlways = [] { return true; };

// Whether `line` is `pattern` with its one '#' standing for a number, which goes to `number`.
bool MatchesWithNumber(const std::string& line, const std::string& pattern, int& number) {
    const size_t hash = pattern.find('#');
    const std::string prefix = pattern.substr(0, hash);
    const std::string suffix = pattern.substr(hash + 1);
    if (line.size() <= prefix.size() + suffix.size() || line.rfind(prefix, 0) != 0 ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string digits =
        line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::stoi(digits);
    return true;
}

// The poll count of a report line such as "ServerJson: Test1 Attempt=3 Limit=50".
int ReportedAttempt(const std::string& line, const std::string& label, int limit) {
    int attempt = -1;
    EXPECT_TRUE(MatchesWithNumber(
        line, "ServerJson: " + label + " Attempt=# Limit=" + std::to_string(limit), attempt))
        << line;
    return attempt;
}

class Server : public ServerTest {
  protected:
    std::string FileExistsLine() const {
        return "ServerJson: " + params->RequestJsonFilePath + " file exists.";
    }

    // A vision stand-in that measures the box of the response fixtures.
    std::unique_ptr<FakeModule> BoxVision(std::chrono::milliseconds delay = 0ms) {
        return std::make_unique<FakeModule>(
            record->is_measured,
            [this] {
                record->x = 412.5f;
                record->y = 305.1f;
                record->z = 198.7f;
            },
            kAlways, delay);
    }

    std::unique_ptr<FakeModule> Scales(std::function<bool()> answers = kAlways) {
        return std::make_unique<FakeModule>(
            record->is_scaled, [this] { record->weight = 1234.5678f; }, std::move(answers));
    }
};

TEST_F(Server, PingReportsTheErrorFlagsOfTheLastMeasurementAndReplacesTheResponse) {
    record->MEASURE_ERROR_HANDS_DETECTED = true;
    record->MEASURE_ERROR_EMPTY_Z = true;
    record->MEASURE_ERROR_EMPTY_W = true;
    // Raised by an earlier pass; every pass starts with both server flags cleared.
    record->SERVER_ERROR_NO_LIDAR = true;
    record->SERVER_ERROR_NO_SCALES = true;
    StartServer();

    size_t from = out.Text().size();
    EXPECT_EQ(Exchange(R"({"COMMAND":"PING","EXTRA":[1,{"a":null}]})"),
              Fixture("ping_after_measurement.json"));
    EXPECT_EQ(LinesSince(from), (Lines{FileExistsLine(), "ServerJson: Command is PING.",
                                       "ServerJson: Create file."}));

    // The first response was never collected; the next one replaces it.
    record->MEASURE_ERROR_HANDS_DETECTED = false;
    record->MEASURE_ERROR_EMPTY_Z = false;
    record->MEASURE_ERROR_EMPTY_W = false;
    EXPECT_EQ(Exchange(kPing), Fixture("status_true.json"));
    EXPECT_FALSE(FileExists(params->ResponseTempJsonFilePath));
}

TEST_F(Server, MeasureAsksVisionThenScalesAndAnswersTheSmallerSideAsX) {
    server.attemptCount = 50;
    auto vision = BoxVision(200ms);
    std::atomic<bool> weighedAfterMeasuring{true};
    FakeModule scales(record->is_scaled, [&] {
        weighedAfterMeasuring = weighedAfterMeasuring && record->is_measured.load();
        record->weight = 1234.5678f;
    });
    StartServer();

    const size_t from = out.Text().size();
    EXPECT_EQ(Exchange(kMeasure), Fixture("measure.json"));
    EXPECT_TRUE(weighedAfterMeasuring) << "the weighing must be asked for after the measurement";
    const Lines lines = LinesSince(from);
    ASSERT_EQ(lines.size(), 8u) << out.Text();
    EXPECT_EQ(lines[0], FileExistsLine());
    EXPECT_EQ(lines[1], "ServerJson: Command is MEASURE.");
    EXPECT_EQ(lines[2], "ServerJson: MAX ATTEMPT DETECTED=0");
    EXPECT_EQ(lines[3], "ServerJson: Waiting for Vision (Measure)...");
    EXPECT_LT(ReportedAttempt(lines[4], "Test1", 50), 50);
    EXPECT_EQ(lines[5], "ServerJson: Waiting for Scales...");
    EXPECT_LT(ReportedAttempt(lines[6], "Test2", 50), 50);
    EXPECT_EQ(lines[7], "ServerJson: Create file.");
}

TEST_F(Server, MeasureOrdersTheSidesWhicheverWayVisionReportsThem) {
    const struct {
        float x, y;
        double X, Y;
    } cases[] = {{300, 200, 200, 300}, {200, 300, 200, 300}, {250, 250, 250, 250}};
    std::atomic<float> sideX{0};
    std::atomic<float> sideY{0};
    FakeModule vision(record->is_measured, [&] {
        record->x = sideX.load();
        record->y = sideY.load();
    });
    auto scales = Scales();
    StartServer();
    for (const auto& c : cases) {
        sideX = c.x;
        sideY = c.y;
        const auto response = servermod::json::parse(Exchange(kMeasure));
        EXPECT_EQ(response.at("X"), c.X) << c.x << " " << c.y;
        EXPECT_EQ(response.at("Y"), c.Y) << c.x << " " << c.y;
    }
}

// A module that never answers: the wait gives up after attemptCount + 1 sleeps, raises that
// module's flag and the response carries whatever the record holds.
TEST_F(Server, MeasureWaitThatGivesUpRaisesTheFlagOfTheSilentModule) {
    server.attemptCount = 5;
    // The wait lines, from the vision waiting line to the scales report; '#' is the poll count
    // of a wait that was answered.
    const struct {
        const char* silent;
        bool visionAnswers;
        const char* fixture;
        Lines waits;
    } cases[] = {
        {"scales",
         true,
         "measure_scales_silent.json",
         {"ServerJson: Waiting for Vision (Measure)...", "ServerJson: Test1 Attempt=# Limit=5",
          "ServerJson: Waiting for Scales...", "ServerJson: SCALES MODULE IS NOT RESPONDING", "",
          "ServerJson: Test2 Attempt=5 Limit=5"}},
        {"vision",
         false,
         "measure_vision_silent.json",
         {"ServerJson: Waiting for Vision (Measure)...",
          "ServerJson: VISION MODULE IS NOT RESPONDING", "", "ServerJson: Test1 Attempt=5 Limit=5",
          "ServerJson: Waiting for Scales...", "ServerJson: Test2 Attempt=# Limit=5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.silent) + " silent");
        // What an earlier measurement and weighing left in the record.
        record->x = 640.5f;
        record->y = 2.75f;
        record->z = 0;
        record->weight = 777;
        record->is_measured = true;
        record->is_scaled = true;
        std::unique_ptr<FakeModule> vision = c.visionAnswers ? BoxVision() : nullptr;
        std::unique_ptr<FakeModule> scales = c.visionAnswers ? nullptr : Scales();
        StartServer();

        const size_t from = out.Text().size();
        EXPECT_EQ(Exchange(kMeasure), Fixture(c.fixture));
        const Lines lines = LinesSince(from);
        ASSERT_EQ(lines.size(), c.waits.size() + 4) << out.Text();
        for (size_t i = 0; i < c.waits.size(); ++i) {
            const std::string& line = lines[i + 3];
            if (c.waits[i].find('#') == std::string::npos) {
                EXPECT_EQ(line, c.waits[i]);
                continue;
            }
            int attempt = -1;
            EXPECT_TRUE(MatchesWithNumber(line, c.waits[i], attempt)) << line;
            EXPECT_LT(attempt, 5) << line;
        }
        EXPECT_EQ(lines.back(), "ServerJson: Create file.");

        // The next pass starts with both server flags cleared.
        EXPECT_EQ(Exchange(kPing), Fixture("status_true.json"));
        EXPECT_EQ(StopServer(), 1);
    }
}

TEST_F(Server, CalibrateAnswersOnceBothModulesHaveAndKeepsTheLargestPollCount) {
    server.attemptCount = 50;
    FakeModule floor(record->is_calibrated);
    FakeModule zero(record->is_scales_calibrated);
    auto vision = BoxVision();
    auto scales = Scales();
    StartServer();

    int largest = 0;
    for (const auto delay : {250ms, 0ms, 450ms}) {
        floor.delay = delay;
        const size_t from = out.Text().size();
        EXPECT_EQ(Exchange(kCalibrate), Fixture("status_true.json"));
        const Lines lines = LinesSince(from);
        ASSERT_EQ(lines.size(), 6u) << out.Text();
        EXPECT_EQ(lines[1], "ServerJson: Command is CALIBRATE.");
        EXPECT_EQ(lines[2], "ServerJson: MAX ATTEMPT DETECTED=" + std::to_string(largest));
        EXPECT_EQ(lines[3], "ServerJson: Waiting for Vision,Scales (Calibrate)...");
        const int attempt = ReportedAttempt(lines[4], "Test3", 50);
        EXPECT_LT(attempt, 50);
        largest = std::max(largest, attempt);
        EXPECT_EQ(lines[5], "ServerJson: Create file.");
    }
    // A measurement's waits leave the count alone.
    const size_t from = out.Text().size();
    Exchange(kMeasure);
    EXPECT_EQ(LinesSince(from).at(2),
              "ServerJson: MAX ATTEMPT DETECTED=" + std::to_string(largest));
    EXPECT_EQ(StopServer(), 1);
    EXPECT_EQ(server.maxAttempt, largest);
}

// When the calibration wait gives up, the flag of each module that has not confirmed is raised.
TEST_F(Server, CalibrateThatGivesUpNamesTheModulesThatDidNotAnswer) {
    server.attemptCount = 3;
    const struct {
        bool visionAnswers;
        bool scalesAnswers;
        bool noLidar;
        bool noScales;
    } cases[] = {
        {false, true, true, false}, {true, false, false, true}, {false, false, true, true}};
    StartServer();
    for (const auto& c : cases) {
        record->is_calibrated = true;
        record->is_scales_calibrated = true;
        std::unique_ptr<FakeModule> floor =
            c.visionAnswers ? std::make_unique<FakeModule>(record->is_calibrated) : nullptr;
        std::unique_ptr<FakeModule> zero =
            c.scalesAnswers ? std::make_unique<FakeModule>(record->is_scales_calibrated) : nullptr;

        const size_t from = out.Text().size();
        std::string expected = Fixture("status_false.json");
        const auto raise = [&expected](const std::string& member) {
            const std::string cleared = "\"" + member + "\":false";
            expected.replace(expected.find(cleared), cleared.size(), "\"" + member + "\":true");
        };
        if (c.noLidar) {
            raise("SERVER_ERROR_NO_LIDAR");
        }
        if (c.noScales) {
            raise("SERVER_ERROR_NO_SCALES");
        }
        EXPECT_EQ(Exchange(kCalibrate), expected);
        const Lines lines = LinesSince(from);
        ASSERT_EQ(lines.size(), 8u) << out.Text();
        EXPECT_EQ(lines[2],
                  std::string("ServerJson: MAX ATTEMPT DETECTED=") + (&c == &cases[0] ? "0" : "3"));
        EXPECT_EQ(lines[4], "ServerJson: VISION MODULE OR SCALES MODULE IS NOT RESPONDING");
        EXPECT_EQ(lines[5], "");
        EXPECT_EQ(lines[6], "ServerJson: Test3 Attempt=3 Limit=3");
    }
}

TEST_F(Server, SetConfigurationTakesAWholeSetThatGetConfigurationReportsBack) {
    StartServer();
    size_t from = out.Text().size();
    EXPECT_EQ(Exchange(R"({"COMMAND":"SET_CONFIGURATION","VISUAL_PRESET":4.9,"DIGITAL_GAIN":true,
        "MIN_DEPTH":0.35,"MAX_DEPTH":2.75,"MIN_AREA":55.5,"MAX_AREA":2e5,"FOW_WIDTH":0.1,
        "FOW_HEIGHT":3.3,"REGION_WIDTH":640.5,"REGION_HEIGHT":480.25,"REGION_OFFSET_X":-10000,
        "REGION_OFFSET_Y":-3.7,"DRAW_SIZE":false,"NOTE":"ignored"})"),
              Fixture("status_true.json"));
    EXPECT_EQ(
        LinesSince(from),
        (Lines{FileExistsLine(), "ServerJson: Command is SET_CONFIGURATION.", "Test: Status = 1",
               "Test: 11", "Test: VISUAL_PRESET = 4.9", "Test: DIGITAL_GAIN = true",
               "Test: MIN_DEPTH = 0.35", "Test: MAX_DEPTH = 2.75", "Test: MIN_AREA = 55.5",
               "Test: MAX_AREA = 200000.0", "Test: FOW_WIDTH = 0.1", "Test: FOW_HEIGHT = 3.3",
               "Test: REGION_WIDTH = 640.5", "Test: REGION_HEIGHT = 480.25",
               "Test: REGION_OFFSET_X = -10000", "Test: REGION_OFFSET_Y = -3.7",
               "Test: DRAW_SIZE = false", "ServerJson: Create file."}));

    from = out.Text().size();
    EXPECT_EQ(Exchange(R"({"COMMAND":"GET_CONFIGURATION"})"), Fixture("get_configuration.json"));
    EXPECT_EQ(LinesSince(from),
              (Lines{FileExistsLine(), "ServerJson: Command is GET_CONFIGURATION.",
                     "ServerJson: Create file."}));
}

// errorFlg belongs to the whole pass: a MEASURE whose scales wait gave up makes the automeasure
// result of the same pass fail too, although the cycle's own waits were answered.
TEST_F(Server, AutomeasureCarriesTheRequestsFailureAndWritesOnlyWhenCollected) {
    server.attemptCount = 5;
    params->Automeasure = true;
    auto vision = BoxVision();
    // The weight the record holds whether or not the scales answer in time.
    record->weight = 1234.5678f;
    // Silent until the server has given up on it once, then answering.
    std::atomic<bool> gaveUp{false};
    auto scales = Scales([&] { return gaveUp = gaveUp || record->SERVER_ERROR_NO_SCALES; });
    // In place before the first pass, so that the request comes before that pass's cycle.
    testsupport::WriteFileAtomically(params->RequestJsonFilePath, kMeasure);
    StartServer();

    const std::string automeasure = params->AutomesureJsonFilePath;
    ASSERT_TRUE(WaitFor([&] { return FileExists(automeasure); }));
    // The result document has exactly the members of the MEASURE response, here the same values.
    EXPECT_EQ(ReadFile(params->ResponseJsonFilePath),
              Fixture("automeasure_after_scales_gave_up.json"));
    EXPECT_EQ(ReadFile(automeasure), Fixture("automeasure_after_scales_gave_up.json"));
    const Lines first = LinesSince(0);
    const auto cycle = std::find(first.begin(), first.end(), "ServerJson: AUTOMEASURE.");
    ASSERT_NE(cycle, first.end());
    ASSERT_GE(first.end() - cycle, 6);
    EXPECT_EQ(cycle[1], "ServerJson: Waiting for Vision (Measure)...");
    EXPECT_EQ(cycle[3], "ServerJson: Waiting for Scales...");
    EXPECT_LT(ReportedAttempt(cycle[4], "Test5", 5), 5) << "the cycle's own scales wait answered";
    EXPECT_EQ(cycle[5] + "\n", "ServerJson: File created!: CONTENT:  " +
                                   Fixture("automeasure_after_scales_gave_up.json"));

    // Later passes succeed; their results show on the console but wait for the client.
    const auto identity = FileIdentity(automeasure);
    const std::string success =
        "ServerJson: File created!: CONTENT:  " + Fixture("automeasure.json");
    ASSERT_TRUE(WaitFor([&] {
        const std::string text = out.Text();
        const size_t once = text.find(success);
        return once != std::string::npos && text.find(success, once + 1) != std::string::npos;
    }));
    EXPECT_EQ(FileIdentity(automeasure), identity);
    EXPECT_EQ(ReadFile(automeasure), Fixture("automeasure_after_scales_gave_up.json"));

    ASSERT_EQ(unlink(automeasure.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return FileExists(automeasure); }));
    EXPECT_EQ(ReadFile(automeasure), Fixture("automeasure.json"));
    // While the stand-ins still answer the cycle under way.
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(Server, StopRequestRaisesBothFlagsAndEndsWithoutAResponse) {
    StartServer();
    const size_t from = out.Text().size();
    testsupport::WriteFileAtomically(params->RequestJsonFilePath,
                                     R"({"COMMAND":"APPLICATION_STOP"})");
    ASSERT_EQ(running.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(running.get(), 1);
    EXPECT_TRUE(params->APPLICATION_STOP_REQUEST);
    EXPECT_TRUE(params->SHUTDOWN_REQUEST);
    EXPECT_EQ(LinesSince(from), (Lines{FileExistsLine(), "ServerJson: Command is STOP."}));
    EXPECT_FALSE(FileExists(params->ResponseJsonFilePath));
    // Left in place, it would stop the station again at the next start.
    EXPECT_FALSE(FileExists(params->RequestJsonFilePath));
}

TEST_F(Server, ResponseThatCannotBePutInPlaceEndsOnlyTheServer) {
    params->ResponseTempJsonFilePath = dir / "missing/response.json.tmp";
    StartServer();
    testsupport::WriteFileAtomically(params->RequestJsonFilePath, kPing);
    ASSERT_EQ(running.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(running.get(), 1);
    EXPECT_FALSE(params->APPLICATION_STOP_REQUEST) << "the other modules go on";
    EXPECT_FALSE(params->SHUTDOWN_REQUEST);
    EXPECT_FALSE(FileExists(params->ResponseJsonFilePath));
    EXPECT_EQ(LinesSince(0).back(), "ServerJson: Create file.");
}

// The core runs as root and the exchange folder is usually world-writable: a link planted at a
// temporary path is replaced, never written through.
TEST_F(Server, TemporaryFilesAreCreatedFreshNeverThroughALink) {
    params->Automeasure = true;
    auto vision = BoxVision();
    auto scales = Scales();
    const std::string victim = dir / "victim";
    testsupport::WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), params->ResponseTempJsonFilePath.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), params->AutomesureTempJsonFilePath.c_str()), 0);
    StartServer();

    EXPECT_EQ(Exchange(kPing), Fixture("status_true.json"));
    ASSERT_TRUE(WaitFor([&] { return FileExists(params->AutomesureJsonFilePath); }));
    EXPECT_EQ(ReadFile(params->AutomesureJsonFilePath), Fixture("automeasure.json"));
    EXPECT_EQ(ReadFile(victim), "precious");
    struct stat info;
    ASSERT_EQ(lstat(params->ResponseJsonFilePath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    ASSERT_EQ(lstat(params->AutomesureJsonFilePath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(StopServer(), 1);
}

}  // namespace
}  // namespace servertest
