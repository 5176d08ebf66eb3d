// Opening a serial port with arguments it must refuse, and the port table, seen from C.
#include <gtest/gtest.h>

#include <string>

#include "ScalesTestSupport.h"
#include "TestSupport.h"

extern "C" {
int OpenFromC(int comport_number, int baudrate, const char* mode);
int PortNumberFromC(const char* devname);
}

namespace {

using scalestest::StderrCapture;
using testsupport::StdoutCapture;

TEST(Rs232Checks, ArgumentsAreCheckedInOrderWithTheFirstFailureReported) {
    const struct {
        int port;
        int baud;
        const char* mode;
        const char* message;
    } cases[] = {
        {-1, 4800, "8N1", "illegal comport number\n"},
        {39, 4800, "8N1", "illegal comport number\n"},
        {4800, 4800, "8N1", "illegal comport number\n"},
        {24, 4801, "8N1", "invalid baudrate\n"},
        {24, 0, "8N1", "invalid baudrate\n"},
        {24, 4800, "8N", "invalid mode \"8N\"\n"},
        {24, 4800, "8N1X", "invalid mode \"8N1X\"\n"},
        {24, 4800, "", "invalid mode \"\"\n"},
        {24, 4800, "9N1", "invalid number of data-bits '9'\n"},
        {24, 4800, "4N1", "invalid number of data-bits '4'\n"},
        {24, 4800, "8X1", "invalid parity 'X'\n"},
        {24, 4800, "8N3", "invalid number of stop bits '3'\n"},
        {24, 4800, "8N0", "invalid number of stop bits '0'\n"},
        // Two wrong arguments: the earlier check wins.
        {39, 4801, "8N1", "illegal comport number\n"},
        {-1, 4800, "9X3", "illegal comport number\n"},
        {24, 4801, "8N", "invalid baudrate\n"},
        {24, 4801, "9N1", "invalid baudrate\n"},
        {24, 4800, "9X3", "invalid number of data-bits '9'\n"},
        {24, 4800, "8X3", "invalid parity 'X'\n"},
        {24, 4800, "9N13", "invalid mode \"9N13\"\n"},
    };
    for (const auto& c : cases) {
        StderrCapture err;
        StdoutCapture out;
        EXPECT_EQ(OpenFromC(c.port, c.baud, c.mode), 1) << c.port << " " << c.baud << " " << c.mode;
        EXPECT_EQ(out.Text(), c.message) << c.port << " " << c.baud << " " << c.mode;
        EXPECT_EQ(err.Text(), "") << "no device is touched before the arguments pass";
    }
}

// Port 38 is the last in the table: it passes the checks and reaches the device, which is
// not there.
TEST(Rs232Checks, TheLastPortPassesTheChecksAndReportsAMissingDevice) {
    if (testsupport::FileExists("/dev/cuaU3")) {
        GTEST_SKIP() << "/dev/cuaU3 exists here, so opening it would not fail";
    }
    StderrCapture err;
    StdoutCapture out;
    EXPECT_EQ(OpenFromC(38, 4800, "8N1"), 1);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(err.Text(), "unable to open comport : No such file or directory\n");
}

TEST(Rs232Checks, PortNumbersFollowTheTable) {
    const struct {
        const char* devname;
        int port;
    } cases[] = {
        {"ttyS0", 0},    {"ttyS15", 15},     {"ttyUSB0", 16}, {"ttyUSB5", 21},    {"ttyAMA0", 22},
        {"ttyAMA1", 23}, {"ttySCALES0", 24}, {"ttyACM0", 25}, {"ttyACM1", 26},    {"rfcomm0", 27},
        {"rfcomm1", 28}, {"ircomm0", 29},    {"ircomm1", 30}, {"cuau0", 31},      {"cuau3", 34},
        {"cuaU0", 35},   {"cuaU3", 38},      {"ttyS16", -1},  {"/dev/ttyS0", -1}, {"", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortNumberFromC(c.devname), c.port) << c.devname;
    }
}

}  // namespace
