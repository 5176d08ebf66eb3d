// Modem-control lines and failing terminal calls, on a pseudo-terminal at the scales' path.
// This program is linked with ioctl and tcsetattr wrapped: the stand-in below plays a port
// with DTR, RTS, CTS, DSR, DCD and RI, fails a chosen call, and records every settings record
// that is applied; everything else reaches the real calls.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScalesTestSupport.h"
#include "TestSupport.h"
#include "rs232.h"

namespace {

struct Stand {
    std::mutex mutex;
    bool modemLines = false;
    int lines = 0;
    int getError = 0;
    int setError = 0;
    int settingsError = 0;  // for the next tcsetattr only
    std::vector<struct termios> applied;
};

Stand stand;

}  // namespace

extern "C" {
int __real_ioctl(int fd, unsigned long request, ...);
int __real_tcsetattr(int fd, int actions, const struct termios* settings);

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (request == TIOCMGET || request == TIOCMSET) {
        std::lock_guard<std::mutex> guard(stand.mutex);
        const int error = request == TIOCMGET ? stand.getError : stand.setError;
        if (error != 0) {
            errno = error;
            return -1;
        }
        if (stand.modemLines) {
            int* status = static_cast<int*>(argument);
            if (request == TIOCMGET) {
                *status = stand.lines;
            } else {
                stand.lines = *status;
            }
            return 0;
        }
    }
    return __real_ioctl(fd, request, argument);
}

int __wrap_tcsetattr(int fd, int actions, const struct termios* settings) {
    {
        std::lock_guard<std::mutex> guard(stand.mutex);
        stand.applied.push_back(*settings);
        if (stand.settingsError != 0) {
            errno = std::exchange(stand.settingsError, 0);
            return -1;
        }
    }
    return __real_tcsetattr(fd, actions, settings);
}
}

namespace {

using scalestest::DescriptorsOn;
using scalestest::kScalesPath;
using scalestest::kScalesPort;
using scalestest::PtyAtScalesPath;
using scalestest::SameSettings;
using scalestest::StderrCapture;
using testsupport::StdoutCapture;

constexpr int kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;

class ModemLines : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto reason = scalestest::ScalesPathUnusable()) {
            GTEST_SKIP() << *reason;
        }
        pty = std::make_unique<PtyAtScalesPath>();
        found = pty->Settings();
        std::lock_guard<std::mutex> guard(stand.mutex);
        stand.modemLines = true;
        stand.lines = kInputLines;
        stand.getError = 0;
        stand.setError = 0;
        stand.settingsError = 0;
        stand.applied.clear();
    }

    void TearDown() override {
        std::lock_guard<std::mutex> guard(stand.mutex);
        stand.modemLines = false;
        stand.getError = 0;
        stand.setError = 0;
    }

    int Lines() {
        std::lock_guard<std::mutex> guard(stand.mutex);
        return stand.lines;
    }

    struct termios LastApplied() {
        std::lock_guard<std::mutex> guard(stand.mutex);
        return stand.applied.empty() ? termios{} : stand.applied.back();
    }

    std::unique_ptr<PtyAtScalesPath> pty;
    struct termios found {};
};

TEST_F(ModemLines, OpenRaisesDtrAndRtsAndCloseLowersThem) {
    StdoutCapture out;
    StderrCapture err;
    ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0);
    EXPECT_EQ(Lines(), kInputLines | TIOCM_DTR | TIOCM_RTS);
    EXPECT_EQ(RS232_IsCTSEnabled(kScalesPort), 1);
    EXPECT_EQ(RS232_IsDSREnabled(kScalesPort), 1);
    EXPECT_EQ(RS232_IsDCDEnabled(kScalesPort), 1);
    EXPECT_EQ(RS232_IsRINGEnabled(kScalesPort), 0);

    RS232_disableDTR(kScalesPort);
    EXPECT_EQ(Lines(), kInputLines | TIOCM_RTS);
    RS232_disableRTS(kScalesPort);
    EXPECT_EQ(Lines(), kInputLines);
    RS232_enableRTS(kScalesPort);
    EXPECT_EQ(Lines(), kInputLines | TIOCM_RTS);
    RS232_enableDTR(kScalesPort);
    EXPECT_EQ(Lines(), kInputLines | TIOCM_DTR | TIOCM_RTS);

    RS232_CloseComport(kScalesPort);
    EXPECT_EQ(Lines(), kInputLines);
    EXPECT_TRUE(SameSettings(pty->Settings(), found));
    EXPECT_EQ(out.Text(), "") << "a port with modem-control lines is opened without remark";
    EXPECT_EQ(err.Text(), "");
}

// Only a port without any modem-control lines is opened without them; every other failure of
// the line calls, and a failure to apply the settings, fails the open.
TEST_F(ModemLines, FailingTerminalCallsFailTheOpenAndLeaveThePortAsFound) {
    const struct {
        int getError;
        int setError;
        int settingsError;
        const char* message;
    } cases[] = {
        {EIO, 0, 0, "unable to get portstatus: Input/output error\n"},
        {EINVAL, 0, 0, "unable to get portstatus: Invalid argument\n"},
        {0, EIO, 0, "unable to set portstatus: Input/output error\n"},
        {0, ENOTTY, 0, "unable to set portstatus: Inappropriate ioctl for device\n"},
        {0, 0, EINVAL, "unable to adjust portsettings : Invalid argument\n"},
    };
    for (const auto& c : cases) {
        {
            std::lock_guard<std::mutex> guard(stand.mutex);
            stand.getError = c.getError;
            stand.setError = c.setError;
            stand.settingsError = c.settingsError;
            stand.lines = kInputLines;
        }
        StdoutCapture out;
        StderrCapture err;
        EXPECT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 1) << c.message;
        EXPECT_EQ(err.Text(), c.message);
        EXPECT_EQ(out.Text(), "") << c.message;
        EXPECT_TRUE(SameSettings(LastApplied(), found)) << "settings put back: " << c.message;
        EXPECT_TRUE(SameSettings(pty->Settings(), found)) << c.message;
        EXPECT_EQ(Lines(), kInputLines) << c.message;
        EXPECT_EQ(DescriptorsOn(pty->slavePath()).size(), 1u) << "left closed: " << c.message;
        EXPECT_TRUE(scalestest::LockIsFree(kScalesPath)) << c.message;
    }
}

TEST_F(ModemLines, CloseRestoresTheSettingsEvenWhenTheLinesCannotBeRead) {
    StdoutCapture out;
    StderrCapture err;
    ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0);
    {
        std::lock_guard<std::mutex> guard(stand.mutex);
        stand.getError = EIO;
    }
    RS232_CloseComport(kScalesPort);
    EXPECT_EQ(err.Text(), "unable to get portstatus: Input/output error\n");
    EXPECT_EQ(Lines(), kInputLines | TIOCM_DTR | TIOCM_RTS) << "the lines are left as they are";
    EXPECT_TRUE(SameSettings(pty->Settings(), found));
    EXPECT_EQ(DescriptorsOn(pty->slavePath()).size(), 1u);
    EXPECT_TRUE(scalestest::LockIsFree(kScalesPath));
}

TEST_F(ModemLines, ModeBaudRateAndFlowControlMakeTheSettings) {
    const struct {
        const char* mode;
        int baud;
        int flowctrl;
        tcflag_t cflag;
        tcflag_t iflag;
        speed_t speed;
    } cases[] = {
        {"8N1", 4800, 0, CS8, IGNPAR, B4800},
        {"8n1", 4800, 0, CS8, IGNPAR, B4800},
        {"7E2", 9600, 0, CS7 | PARENB | CSTOPB, INPCK, B9600},
        {"6e1", 50, 0, CS6 | PARENB, INPCK, B50},
        {"5O1", 115200, 0, CS5 | PARENB | PARODD, INPCK, B115200},
        {"8o2", 4000000, 0, CS8 | PARENB | PARODD | CSTOPB, INPCK, B4000000},
        {"8N1", 4800, 1, CS8 | CRTSCTS, IGNPAR, B4800},
    };
    for (const auto& c : cases) {
        StdoutCapture out;
        ASSERT_EQ(RS232_OpenComport(kScalesPort, c.baud, c.mode, c.flowctrl), 0) << c.mode;
        const struct termios applied = LastApplied();
        RS232_CloseComport(kScalesPort);
        const tcflag_t shown = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD;
        EXPECT_EQ(applied.c_cflag & shown, c.cflag | CLOCAL | CREAD) << c.mode << c.flowctrl;
        EXPECT_EQ(applied.c_iflag, c.iflag) << c.mode;
        EXPECT_EQ(applied.c_oflag, 0u) << c.mode;
        EXPECT_EQ(applied.c_lflag, 0u) << c.mode;
        EXPECT_EQ(applied.c_cc[VMIN], 0) << c.mode;
        EXPECT_EQ(applied.c_cc[VTIME], 0) << c.mode;
        EXPECT_EQ(cfgetispeed(&applied), c.speed) << c.baud;
        EXPECT_EQ(cfgetospeed(&applied), c.speed) << c.baud;
    }
}

}  // namespace
