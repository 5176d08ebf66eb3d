#include "rs232.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "UniqueFd.h"

namespace {

// Callers name ports by their index here, so the order is fixed: 24 is the scales' device.
const char* const comports[RS232_PORTNR] = {
    "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyS4",
    "/dev/ttyS5",   "/dev/ttyS6",   "/dev/ttyS7",   "/dev/ttyS8",   "/dev/ttyS9",
    "/dev/ttyS10",  "/dev/ttyS11",  "/dev/ttyS12",  "/dev/ttyS13",  "/dev/ttyS14",
    "/dev/ttyS15",  "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3",
    "/dev/ttyUSB4", "/dev/ttyUSB5", "/dev/ttyAMA0", "/dev/ttyAMA1", "/dev/ttySCALES0",
    "/dev/ttyACM0", "/dev/ttyACM1", "/dev/rfcomm0", "/dev/rfcomm1", "/dev/ircomm0",
    "/dev/ircomm1", "/dev/cuau0",   "/dev/cuau1",   "/dev/cuau2",   "/dev/cuau3",
    "/dev/cuaU0",   "/dev/cuaU1",   "/dev/cuaU2",   "/dev/cuaU3"};

int Cport[RS232_PORTNR];
struct termios old_port_settings[RS232_PORTNR];
// False for a device without modem-control lines (a pseudo-terminal, a serial-over-network
// bridge): such a port is opened and closed without touching DTR and RTS.
bool has_modem_lines[RS232_PORTNR];

struct BaudRate {
    int rate;
    speed_t constant;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

// Reports a failed step of opening and leaves the device as it was found: settings restored,
// lock released, descriptor closed. The error of the failed step is the one reported.
void AbandonOpen(UniqueFd& fd, int comport_number, const char* message) {
    const int error = errno;
    tcsetattr(fd.get(), TCSANOW, &old_port_settings[comport_number]);
    flock(fd.get(), LOCK_UN);
    fd.reset();
    errno = error;
    perror(message);
}

void ChangeModemLines(int comport_number, int lines, bool raise) {
    int status;
    if (ioctl(Cport[comport_number], TIOCMGET, &status) == -1) {
        perror("unable to get portstatus");
        return;
    }
    if (raise) {
        status |= lines;
    } else {
        status &= ~lines;
    }
    if (ioctl(Cport[comport_number], TIOCMSET, &status) == -1) {
        perror("unable to set portstatus");
    }
}

int ModemLine(int comport_number, int line) {
    int status;
    if (ioctl(Cport[comport_number], TIOCMGET, &status) == -1) {
        return 0;
    }
    return (status & line) ? 1 : 0;
}

}  // namespace

int RS232_OpenComport(int comport_number, int baudrate, const char* mode, int flowctrl) {
    if (comport_number < 0 || comport_number >= RS232_PORTNR) {
        Say("illegal comport number");
        return 1;
    }
    speed_t baudr = 0;
    bool known = false;
    for (const BaudRate& entry : kBaudRates) {
        if (entry.rate == baudrate) {
            baudr = entry.constant;
            known = true;
        }
    }
    if (!known) {
        Say("invalid baudrate");
        return 1;
    }
    const std::string modeText = mode == nullptr ? "" : mode;
    if (modeText.size() != 3) {
        Say("invalid mode \"" + modeText + "\"");
        return 1;
    }

    tcflag_t cbits = 0;
    switch (modeText[0]) {
        case '8':
            cbits = CS8;
            break;
        case '7':
            cbits = CS7;
            break;
        case '6':
            cbits = CS6;
            break;
        case '5':
            cbits = CS5;
            break;
        default:
            Say(std::string("invalid number of data-bits '") + modeText[0] + "'");
            return 1;
    }
    tcflag_t cpar = 0;
    tcflag_t ipar = 0;
    switch (modeText[1]) {
        case 'N':
        case 'n':
            ipar = IGNPAR;
            break;
        case 'E':
        case 'e':
            cpar = PARENB;
            ipar = INPCK;
            break;
        case 'O':
        case 'o':
            cpar = PARENB | PARODD;
            ipar = INPCK;
            break;
        default:
            Say(std::string("invalid parity '") + modeText[1] + "'");
            return 1;
    }
    tcflag_t bstop = 0;
    switch (modeText[2]) {
        case '1':
            break;
        case '2':
            bstop = CSTOPB;
            break;
        default:
            Say(std::string("invalid number of stop bits '") + modeText[2] + "'");
            return 1;
    }

    // Close-on-exec keeps the port and its lock out of the commands the core runs.
    UniqueFd fd(open(comports[comport_number], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        perror("unable to open comport ");
        return 1;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        perror("Another process has locked the comport.");
        return 1;
    }
    if (tcgetattr(fd.get(), &old_port_settings[comport_number]) != 0) {
        perror("unable to read portsettings ");
        return 1;
    }

    struct termios new_port_settings;
    std::memset(&new_port_settings, 0, sizeof new_port_settings);
    new_port_settings.c_cflag = cbits | cpar | bstop | CLOCAL | CREAD;
    if (flowctrl) {
        new_port_settings.c_cflag |= CRTSCTS;
    }
    new_port_settings.c_iflag = ipar;
    new_port_settings.c_cc[VMIN] = 0;
    new_port_settings.c_cc[VTIME] = 0;
    cfsetispeed(&new_port_settings, baudr);
    cfsetospeed(&new_port_settings, baudr);
    if (tcsetattr(fd.get(), TCSANOW, &new_port_settings) != 0) {
        AbandonOpen(fd, comport_number, "unable to adjust portsettings ");
        return 1;
    }

    bool modemLines = true;
    int status;
    if (ioctl(fd.get(), TIOCMGET, &status) == -1) {
        if (errno != ENOTTY) {
            AbandonOpen(fd, comport_number, "unable to get portstatus");
            return 1;
        }
        modemLines = false;
        Say(std::string("no modem-control lines on ") + comports[comport_number] +
            ", DTR and RTS left alone");
    }
    if (modemLines) {
        status |= TIOCM_DTR | TIOCM_RTS;
        if (ioctl(fd.get(), TIOCMSET, &status) == -1) {
            AbandonOpen(fd, comport_number, "unable to set portstatus");
            return 1;
        }
    }
    has_modem_lines[comport_number] = modemLines;
    Cport[comport_number] = fd.release();
    return 0;
}

int RS232_PollComport(int comport_number, unsigned char* buf, int size) {
    if (size <= 0) {
        return 0;
    }
    while (true) {
        const ssize_t n = read(Cport[comport_number], buf, static_cast<size_t>(size));
        if (n >= 0) {
            return static_cast<int>(n);
        }
        // A non-blocking read cannot have read anything when it is interrupted: repeat it.
        if (errno == EINTR) {
            continue;
        }
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

int RS232_SendByte(int comport_number, unsigned char byte) {
    const int n = RS232_SendBuf(comport_number, &byte, 1);
    return n < 0 ? 1 : 0;
}

int RS232_SendBuf(int comport_number, unsigned char* buf, int size) {
    if (size <= 0) {
        return 0;
    }
    while (true) {
        const ssize_t n = write(Cport[comport_number], buf, static_cast<size_t>(size));
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

void RS232_CloseComport(int comport_number) {
    const int fd = Cport[comport_number];
    if (has_modem_lines[comport_number]) {
        ChangeModemLines(comport_number, TIOCM_DTR | TIOCM_RTS, false);
    }
    // A device that has gone away cannot take its settings back; there is nothing else to do.
    tcsetattr(fd, TCSANOW, &old_port_settings[comport_number]);
    flock(fd, LOCK_UN);
    // close is not retried on EINTR: on Linux the descriptor is gone either way.
    close(fd);
    Cport[comport_number] = -1;
}

void RS232_cputs(int comport_number, const char* text) {
    while (*text != '\0') {
        RS232_SendByte(comport_number, static_cast<unsigned char>(*text++));
    }
}

int RS232_IsDCDEnabled(int comport_number) {
    return ModemLine(comport_number, TIOCM_CAR);
}

int RS232_IsRINGEnabled(int comport_number) {
    return ModemLine(comport_number, TIOCM_RNG);
}

int RS232_IsCTSEnabled(int comport_number) {
    return ModemLine(comport_number, TIOCM_CTS);
}

int RS232_IsDSREnabled(int comport_number) {
    return ModemLine(comport_number, TIOCM_DSR);
}

void RS232_enableDTR(int comport_number) {
    ChangeModemLines(comport_number, TIOCM_DTR, true);
}

void RS232_disableDTR(int comport_number) {
    ChangeModemLines(comport_number, TIOCM_DTR, false);
}

void RS232_enableRTS(int comport_number) {
    ChangeModemLines(comport_number, TIOCM_RTS, true);
}

void RS232_disableRTS(int comport_number) {
    ChangeModemLines(comport_number, TIOCM_RTS, false);
}

void RS232_flushRX(int comport_number) {
    tcflush(Cport[comport_number], TCIFLUSH);
}

void RS232_flushTX(int comport_number) {
    tcflush(Cport[comport_number], TCOFLUSH);
}

void RS232_flushRXTX(int comport_number) {
    tcflush(Cport[comport_number], TCIOFLUSH);
}

int RS232_GetPortnr(const char* devname) {
    const std::string path = "/dev/" + std::string(devname).substr(0, 16);
    for (int i = 0; i < RS232_PORTNR; ++i) {
        if (path == comports[i]) {
            return i;
        }
    }
    return -1;
}
