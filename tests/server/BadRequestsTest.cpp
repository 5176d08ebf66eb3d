// Requests the server must not take as asked: refused without a response, or answered with
// "STATUS" false, and never changing the measuring parameters.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Configuration.h"
#include "Documents.h"
#include "ExchangeFiles.h"
#include "ServerHarness.h"

namespace servertest {
namespace {

using servermod::json;
using servermod::kMaxRequestBytes;

// A SET_CONFIGURATION whose values all lie on the edges of their ranges, with `member` removed
// (no value) or given the JSON text `value`.
std::string SetRequest(const std::string& member = "", const char* value = nullptr) {
    json request = {{"COMMAND", "SET_CONFIGURATION"},
                    {"VISUAL_PRESET", 6},
                    {"DIGITAL_GAIN", 0},
                    {"MIN_DEPTH", 0},
                    {"MAX_DEPTH", 200000},
                    {"MIN_AREA", 10},
                    {"MAX_AREA", 200000},
                    {"FOW_WIDTH", 2000},
                    {"FOW_HEIGHT", 0},
                    {"REGION_WIDTH", 1920},
                    {"REGION_HEIGHT", 1080},
                    {"REGION_OFFSET_X", -10000},
                    {"REGION_OFFSET_Y", 10000},
                    {"DRAW_SIZE", true}};
    if (value != nullptr) {
        request[member] = json::parse(value);
    } else if (!member.empty()) {
        request.erase(member);
    }
    return request.dump();
}

struct BadRequest {
    const char* name;
    std::string request;
    // Refused: a part of the "Error occurred: " line. Answered: empty.
    std::string refusedWith;
    // Answered with "STATUS" false: a console line that says why.
    std::string line;
};

class BadRequests : public ServerTest {};

TEST_F(BadRequests, AreRefusedOrAnsweredWithStatusFalse) {
    const BadRequest cases[] = {
        {"empty file", "", "parse error at line 1, column 1", ""},
        {"truncated", R"({"COMMAND":"PI)", "parse_error", ""},
        {"comment", "// ping\n{\"COMMAND\":\"PING\"}", "parse_error", ""},
        {"trailing garbage", R"({"COMMAND":"PING"} x)", "expected end of input", ""},
        {"two documents", R"({"COMMAND":"PING"}{"COMMAND":"PING"})", "expected end of input", ""},
        {"larger than 1 MiB",
         std::string(R"({"COMMAND":"PING"})") + std::string(kMaxRequestBytes, ' '),
         "larger than 1048576 bytes", ""},
        {"array", R"(["COMMAND","PING"])", "", "ServerJson: Correct json not found."},
        {"object without COMMAND", R"({"command":"PING"})", "",
         "ServerJson: Correct json not found."},
        {"number as COMMAND", R"({"COMMAND":4})", "",
         "ServerJson: Correct json command not found."},
        {"lower-case ping", R"({"COMMAND":"ping"})", "",
         "ServerJson: Correct json command not found."},
        {"SET without DRAW_SIZE", SetRequest("DRAW_SIZE"), "", "Test: Status = 0"},
        {"DRAW_SIZE given as 1", SetRequest("DRAW_SIZE", "1"),
         "type must be boolean, but is number", ""},
        {"string for a number", SetRequest("MIN_AREA", R"("100")"),
         "type must be number, but is string", ""},
        {"null for a number", SetRequest("FOW_HEIGHT", "null"), "type must be number, but is null",
         ""},
        {"one value out of range", SetRequest("REGION_WIDTH", "1920.5"), "", "Test: 11"},
        {"int beyond the int range", SetRequest("VISUAL_PRESET", "1e12"), "", "Test: 11"},
        {"integer just beyond the int range", SetRequest("REGION_OFFSET_X", "2147483648"), "",
         "Test: 11"},
        {"number beyond the float range", SetRequest("MAX_DEPTH", "1e39"), "", "Test: 11"},
        {"negative beyond the float range", SetRequest("MIN_DEPTH", "-1e39"), "", "Test: 11"},
    };
    // A known set that every case must leave in place.
    ConfigurationStruct known;
    known.MAX_AREA = 150000;
    ASSERT_TRUE(Configuration::getInstance()->SetAll(known));
    StartServer();

    for (const BadRequest& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t from = out.Text().size();
        if (!c.refusedWith.empty()) {
            ExpectRefused(c.request, c.refusedWith);
            continue;
        }
        EXPECT_EQ(Exchange(c.request), Fixture("status_false.json"));
        const std::vector<std::string> lines = LinesSince(from);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end()) << c.line;
        const bool converted = std::find(lines.begin(), lines.end(), "Test: 11") != lines.end();
        EXPECT_EQ(converted, c.line == "Test: 11") << "lines of the 13 values";
    }

    const ConfigurationStruct now = Configuration::getInstance()->GetAll();
    EXPECT_EQ(now.VISUAL_PRESET, known.VISUAL_PRESET);
    EXPECT_EQ(now.DIGITAL_GAIN, known.DIGITAL_GAIN);
    EXPECT_EQ(now.MIN_DEPTH, known.MIN_DEPTH);
    EXPECT_EQ(now.MAX_DEPTH, known.MAX_DEPTH);
    EXPECT_EQ(now.MIN_AREA, known.MIN_AREA);
    EXPECT_EQ(now.MAX_AREA, known.MAX_AREA);
    EXPECT_EQ(now.FOW_WIDTH, known.FOW_WIDTH);
    EXPECT_EQ(now.FOW_HEIGHT, known.FOW_HEIGHT);
    EXPECT_EQ(now.REGION_WIDTH, known.REGION_WIDTH);
    EXPECT_EQ(now.REGION_HEIGHT, known.REGION_HEIGHT);
    EXPECT_EQ(now.REGION_OFFSET_X, known.REGION_OFFSET_X);
    EXPECT_EQ(now.REGION_OFFSET_Y, known.REGION_OFFSET_Y);
    EXPECT_EQ(now.DRAW_SIZE, known.DRAW_SIZE);

    // The set the cases were made from is itself accepted.
    EXPECT_EQ(Exchange(SetRequest()), Fixture("status_true.json"));
}

// The limit counts bytes of the file, white space included: a request of exactly 1 MiB is
// served.
TEST_F(BadRequests, RequestOfExactlyTheLimitIsServed) {
    StartServer();
    std::string request = R"({"COMMAND":"PING"})";
    request.resize(kMaxRequestBytes, ' ');
    EXPECT_EQ(Exchange(request), Fixture("status_true.json"));
}

// A FIFO planted at the request path (by another user of a shared folder) must not stall the
// server: it reads as an empty request and is removed.
TEST_F(BadRequests, FifoAtTheRequestPathDoesNotStallTheServer) {
    ASSERT_EQ(mkfifo(params->RequestJsonFilePath.c_str(), 0666), 0);
    const size_t from = out.Text().size();
    StartServer();
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return out.Text().find("Error occurred: ", from) != std::string::npos; }));
    EXPECT_FALSE(testsupport::FileExists(params->RequestJsonFilePath));
    EXPECT_EQ(Exchange(R"({"COMMAND":"PING"})"), Fixture("status_true.json"));
}

}  // namespace
}  // namespace servertest
