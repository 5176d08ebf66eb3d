#include <gtest/gtest.h>

#include <string>

#include "ErrorParser.h"

namespace {

struct MessageCase {
    ModuleEnum module;
    int code;
    const char* expected;
};

TEST(ErrorParser, WritesTheFixedMessageOfEveryModuleAndCode) {
    const MessageCase cases[] = {
        {UNKNOWN, -7, "ERROR[UNKNOWN MODULE] : ..."},
        {UNKNOWN, 0, "ERROR[UNKNOWN MODULE] : ..."},
        {UNKNOWN, 1, "ERROR[UNKNOWN MODULE] : ..."},
        {UNKNOWN, 2, "ERROR[UNKNOWN MODULE] : ..."},
        {UNKNOWN, 3, "ERROR[UNKNOWN MODULE] : ..."},
        {UNKNOWN, 4, "ERROR[UNKNOWN MODULE] : ..."},
        {SERVER, 0, "ERROR[SERVER MODULE] : "},
        {SERVER, 1, "ERROR[SERVER MODULE] : Cannot execute file delete command.\n"},
        {SERVER, 2, "ERROR[SERVER MODULE] : Cannot clear socket file.\n"},
        {SERVER, 3, "ERROR[SERVER MODULE] : ERROR 3"},
        {SERVER, 4, "ERROR[SERVER MODULE] : "},
        {SCALES, 0, "ERROR[SCALES MODULE] : "},
        {SCALES, 1, "ERROR[SCALES MODULE] : ERROR 1"},
        {SCALES, 2, "ERROR[SCALES MODULE] : ERROR 2"},
        {SCALES, 3, "ERROR[SCALES MODULE] : ERROR 3"},
        {SCALES, -1, "ERROR[SCALES MODULE] : "},
        {VISION, 1, "ERROR[VISION MODULE] : Can't init.\n"},
        {VISION, 2, "ERROR[VISION MODULE] : "},
        {VISION, 3, "ERROR[VISION MODULE] : "},
        {VISION, 0, "ERROR[VISION MODULE] : "},
        {CORE, 0, "ERROR[CORE MODULE] : "},
        {CORE, 1, "ERROR[CORE MODULE] : Server closed.\n"},
        {CORE, 2, "ERROR[CORE MODULE] : ERROR 2"},
        {CORE, 3, "ERROR[CORE MODULE] : ERROR 3"},
        {CORE, 99, "ERROR[CORE MODULE] : "},
    };
    for (const MessageCase& c : cases) {
        ErrorParser parser(c.module);
        EXPECT_EQ(parser.output, "");
        testing::internal::CaptureStderr();
        parser.Print(c.code);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected)
            << "module " << c.module << " code " << c.code;
        EXPECT_EQ(parser.output, c.expected);
    }
}

TEST(ErrorParser, EachPrintReplacesThePreviousMessage) {
    ErrorParser parser(SCALES);
    testing::internal::CaptureStderr();
    parser.Print(1);
    parser.Print(2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR[SCALES MODULE] : ERROR 1ERROR[SCALES MODULE] : ERROR 2");
    EXPECT_EQ(parser.output, "ERROR[SCALES MODULE] : ERROR 2");
}

TEST(ErrorParser, AModuleOutsideTheTableRepeatsTheLastMessage) {
    ErrorParser parser(VISION);
    parser.module = static_cast<ModuleEnum>(9);
    testing::internal::CaptureStderr();
    parser.Print(1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    parser.module = VISION;
    testing::internal::CaptureStderr();
    parser.Print(1);
    parser.module = static_cast<ModuleEnum>(-1);
    parser.Print(2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR[VISION MODULE] : Can't init.\nERROR[VISION MODULE] : Can't init.\n");
}

}  // namespace
