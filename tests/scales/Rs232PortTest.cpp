// A serial port opened for real on a pseudo-terminal at the scales' path: settings, lock,
// reading and writing, and devices that are no serial line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "ScalesTestSupport.h"
#include "TestSupport.h"
#include "rs232.h"

namespace {

using scalestest::DescriptorsOn;
using scalestest::kScalesPath;
using scalestest::kScalesPort;
using scalestest::PtyAtScalesPath;
using scalestest::QueuedInput;
using scalestest::SameSettings;
using scalestest::StderrCapture;
using testsupport::StdoutCapture;
using testsupport::WaitFor;

class Rs232Port : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto reason = scalestest::ScalesPathUnusable()) {
            GTEST_SKIP() << *reason;
        }
        pty = std::make_unique<PtyAtScalesPath>();
    }

    // What the master side has received from the port, once `count` bytes are there.
    std::string FromPort(size_t count) {
        std::string received;
        WaitFor([&] {
            char buffer[64];
            const ssize_t n = read(pty->master(), buffer, sizeof buffer);
            if (n > 0) {
                received.append(buffer, static_cast<size_t>(n));
            }
            return received.size() >= count;
        });
        return received;
    }

    std::unique_ptr<PtyAtScalesPath> pty;
};

TEST_F(Rs232Port, OpenConfiguresRawAndCloseRestoresWhatItFound) {
    // A terminal as a login shell would leave it: cooked, echoing, 9600 baud.
    struct termios found = pty->Settings();
    found.c_lflag |= ICANON | ECHO | ISIG;
    found.c_oflag |= OPOST;
    found.c_cc[VMIN] = 1;
    cfsetispeed(&found, B9600);
    cfsetospeed(&found, B9600);
    ASSERT_EQ(tcsetattr(pty->slave(), TCSANOW, &found), 0);
    found = pty->Settings();

    for (const char* mode : {"8N1", "8n1"}) {
        StdoutCapture out;
        StderrCapture err;
        ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, mode, 0), 0) << err.Text();
        const struct termios raw = pty->Settings();
        EXPECT_EQ(raw.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD | CRTSCTS),
                  static_cast<tcflag_t>(CS8 | CLOCAL | CREAD))
            << mode;
        EXPECT_EQ(raw.c_iflag, static_cast<tcflag_t>(IGNPAR)) << mode;
        EXPECT_EQ(raw.c_oflag, 0u) << mode;
        EXPECT_EQ(raw.c_lflag, 0u) << mode;
        EXPECT_EQ(raw.c_cc[VMIN], 0) << mode;
        EXPECT_EQ(raw.c_cc[VTIME], 0) << mode;
        EXPECT_EQ(cfgetispeed(&raw), static_cast<speed_t>(B4800)) << mode;
        EXPECT_EQ(cfgetospeed(&raw), static_cast<speed_t>(B4800)) << mode;
        EXPECT_EQ(DescriptorsOn(pty->slavePath()).size(), 2u) << "the port's and this test's";
        EXPECT_FALSE(scalestest::LockIsFree(kScalesPath));

        RS232_CloseComport(kScalesPort);
        EXPECT_TRUE(SameSettings(pty->Settings(), found)) << mode;
        EXPECT_EQ(DescriptorsOn(pty->slavePath()).size(), 1u) << "the port is closed";
        EXPECT_TRUE(scalestest::LockIsFree(kScalesPath));
        // A pseudo-terminal has no modem-control lines: one line says so, nothing fails.
        EXPECT_EQ(out.Text(), std::string("no modem-control lines on ") + kScalesPath +
                                  ", DTR and RTS left alone\n");
        EXPECT_EQ(err.Text(), "");
    }
}

TEST_F(Rs232Port, DeviceLockedByAnotherProcessIsNotOpened) {
    const struct termios found = pty->Settings();
    testsupport::ChildProcess holder(
        "/usr/bin/flock", {"--exclusive", kScalesPath, "/bin/sh", "-c", "echo locked; exec cat"},
        "", {}, true);
    ASSERT_TRUE(holder.WaitForOutput("locked\n")) << holder.Errors();
    {
        StdoutCapture out;
        StderrCapture err;
        EXPECT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 1);
        EXPECT_EQ(err.Text(),
                  "Another process has locked the comport.: Resource temporarily unavailable\n");
        EXPECT_EQ(out.Text(), "");
    }
    EXPECT_EQ(DescriptorsOn(pty->slavePath()).size(), 1u) << "the device is left closed";
    EXPECT_TRUE(SameSettings(pty->Settings(), found));

    holder.CloseInput();
    ASSERT_EQ(holder.WaitExit(), 0);
    StdoutCapture out;
    ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0);
    RS232_CloseComport(kScalesPort);
}

TEST_F(Rs232Port, PollReadsWhatIsWaitingAndNeverWaits) {
    StdoutCapture out;
    ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0);
    unsigned char buffer[8] = {};
    EXPECT_EQ(RS232_PollComport(kScalesPort, buffer, 5), 0) << "nothing is waiting";

    ASSERT_EQ(write(pty->master(), "ABCDEFG", 7), 7);
    ASSERT_TRUE(WaitFor([&] { return QueuedInput(pty->slave()) == 7; }));
    ASSERT_EQ(RS232_PollComport(kScalesPort, buffer, 5), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "ABCDE");
    ASSERT_EQ(RS232_PollComport(kScalesPort, buffer, 5), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "FG");
    EXPECT_EQ(RS232_PollComport(kScalesPort, buffer, 5), 0);

    ASSERT_EQ(write(pty->master(), "stale", 5), 5);
    ASSERT_TRUE(WaitFor([&] { return QueuedInput(pty->slave()) == 5; }));
    RS232_flushRX(kScalesPort);
    EXPECT_EQ(RS232_PollComport(kScalesPort, buffer, 5), 0) << "queued input is discarded";

    EXPECT_EQ(RS232_SendByte(kScalesPort, 0x4A), 0);
    EXPECT_EQ(FromPort(1), "J");
    RS232_cputs(kScalesPort, "abc");
    unsigned char bytes[] = {'x', 'y'};
    EXPECT_EQ(RS232_SendBuf(kScalesPort, bytes, 2), 2);
    EXPECT_EQ(FromPort(5), "abcxy");
    RS232_CloseComport(kScalesPort);
}

// A device that takes no terminal settings fails the open, and is left closed.
TEST_F(Rs232Port, DeviceThatIsNoTerminalIsNotOpened) {
    pty.reset();
    ASSERT_EQ(symlink("/dev/null", kScalesPath), 0);
    struct Unlink {
        ~Unlink() { unlink(kScalesPath); }
    } unlinkAtEnd;
    const size_t before = DescriptorsOn("/dev/null").size();
    StdoutCapture out;
    StderrCapture err;
    EXPECT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 1);
    EXPECT_EQ(err.Text(), "unable to read portsettings : Inappropriate ioctl for device\n");
    EXPECT_EQ(DescriptorsOn("/dev/null").size(), before);
}

}  // namespace
