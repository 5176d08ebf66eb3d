#include "ScalesSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace scalessim {

namespace {

constexpr unsigned char kRequest = 0x4A;
constexpr long kLargestCount = 0x7FFFFF;
constexpr size_t kPartialBytes = 3;
// Decoded as a reply it is a settled, absurdly negative weight; being longer than a reply, it
// leaves two bytes behind.
const std::vector<unsigned char> kGarbage = {0xFF, 0x13, 0x37, 0xFF, 0xFF, 0x5A, 0xA5};

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

double Divisor(int code) {
    switch (code) {
        case 0:
            return 1000;
        case 1:
            return 10000;
        case 4:
            return 100;
        case 5:
        case 6:
            return 10;
        default:
            return 1;
    }
}

// Writes everything or gives up: a reader that lets the line fill up loses replies, as it
// would on a real line.
void WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::kNone:
            return "none";
        case Fault::kSilent:
            return "silent";
        case Fault::kLate:
            return "late";
        case Fault::kPartial:
            return "partial";
        case Fault::kGarbage:
            return "garbage";
    }
    return "?";
}

std::optional<Fault> FaultFromName(const std::string& name) {
    for (Fault fault :
         {Fault::kNone, Fault::kSilent, Fault::kLate, Fault::kPartial, Fault::kGarbage}) {
        if (name == FaultName(fault)) {
            return fault;
        }
    }
    return std::nullopt;
}

std::vector<unsigned char> EncodeReply(const Reading& reading) {
    const long count =
        std::min(kLargestCount, std::lround(std::fabs(reading.weightKg) * Divisor(reading.code)));
    unsigned char status = reading.settled ? 0x80 : 0x00;
    status |= count == 0 ? 0x40 : 0x20;
    unsigned char top = static_cast<unsigned char>((count >> 16) & 0x7F);
    if (reading.weightKg < 0 && count != 0) {
        top |= 0x80;
    }
    return {status, static_cast<unsigned char>(reading.code & 0xFF),
            static_cast<unsigned char>(count & 0xFF),
            static_cast<unsigned char>((count >> 8) & 0xFF), top};
}

ScalesSimulator::ScalesSimulator(const Reading& initial) : reading_(initial) {
    master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!master_.valid()) {
        Fail("posix_openpt");
    }
    char name[128];
    if (grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0 ||
        ptsname_r(master_.get(), name, sizeof name) != 0) {
        Fail("preparing the pseudo-terminal");
    }
    slavePath_ = name;
    slave_.reset(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave_.valid()) {
        Fail("open " + slavePath_);
    }
    // Raw, like a serial line: no echo of replies back as requests, no line editing.
    struct termios settings;
    if (tcgetattr(slave_.get(), &settings) != 0) {
        Fail("tcgetattr " + slavePath_);
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B4800);
    cfsetospeed(&settings, B4800);
    if (tcsetattr(slave_.get(), TCSANOW, &settings) != 0) {
        Fail("tcsetattr " + slavePath_);
    }
    wake_.reset(eventfd(0, EFD_CLOEXEC));
    if (!wake_.valid()) {
        Fail("eventfd");
    }
    server_ = std::thread(&ScalesSimulator::Serve, this);
}

ScalesSimulator::~ScalesSimulator() {
    Close();
}

void ScalesSimulator::Link(const std::string& path) {
    // symlink never replaces what stands at the path, so the check and the creation are one.
    if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) {
            throw std::runtime_error("something already stands at " + path + "; not replacing it");
        }
        throw std::runtime_error("cannot link " + path + ": " +
                                 std::generic_category().message(errno));
    }
    std::lock_guard<std::mutex> guard(mutex_);
    linkPath_ = path;
}

void ScalesSimulator::SetWeight(double kg) {
    std::lock_guard<std::mutex> guard(mutex_);
    reading_.weightKg = kg;
}

void ScalesSimulator::SetSettled(bool settled) {
    std::lock_guard<std::mutex> guard(mutex_);
    reading_.settled = settled;
}

void ScalesSimulator::SetCode(int code) {
    std::lock_guard<std::mutex> guard(mutex_);
    reading_.code = code;
}

void ScalesSimulator::SetFault(Fault fault, int count) {
    std::lock_guard<std::mutex> guard(mutex_);
    steps_.clear();
    if (fault != Fault::kNone && count > 0) {
        steps_.push_back({fault, count, std::nullopt});
    }
}

int ScalesSimulator::Script(const std::vector<Step>& steps) {
    std::lock_guard<std::mutex> guard(mutex_);
    steps_.assign(steps.begin(), steps.end());
    return requests_;
}

void ScalesSimulator::Unplug() {
    Close();
}

Status ScalesSimulator::GetStatus() const {
    std::lock_guard<std::mutex> guard(mutex_);
    Status status;
    status.reading = reading_;
    if (!steps_.empty()) {
        status.fault = steps_.front().fault;
        status.faultCount = steps_.front().count;
    }
    status.requests = requests_;
    status.staleBytes = staleBytes_;
    status.unplugged = unplugged_;
    return status;
}

int ScalesSimulator::Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

void ScalesSimulator::Serve() {
    while (true) {
        pollfd fds[2] = {{master_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        unsigned char bytes[64];
        const ssize_t n = read(master_.get(), bytes, sizeof bytes);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] == kRequest) {
                Answer();
            }
        }
    }
}

void ScalesSimulator::Answer() {
    // Measured before anything is written for this request: bytes still queued now were left
    // unread by the port's user when it sent the request.
    int unread = 0;
    ioctl(slave_.get(), FIONREAD, &unread);
    Fault fault = Fault::kNone;
    std::vector<unsigned char> reply;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++requests_;
        staleBytes_ = std::max(staleBytes_, unread);
        if (!steps_.empty()) {
            Step& step = steps_.front();
            if (step.reading) {
                reading_ = *step.reading;
                step.reading.reset();
            }
            fault = step.fault;
            if (--step.count <= 0) {
                steps_.pop_front();
            }
        }
        reply = EncodeReply(reading_);
    }
    if (!held_.empty()) {
        WriteAll(master_.get(), held_);
        held_.clear();
    }
    switch (fault) {
        case Fault::kNone:
            WriteAll(master_.get(), reply);
            break;
        case Fault::kSilent:
            break;
        case Fault::kLate:
            held_ = reply;
            break;
        case Fault::kPartial:
            reply.resize(kPartialBytes);
            WriteAll(master_.get(), reply);
            break;
        case Fault::kGarbage:
            WriteAll(master_.get(), kGarbage);
            break;
    }
}

void ScalesSimulator::Close() {
    if (server_.joinable()) {
        eventfd_write(wake_.get(), 1);
        server_.join();
    }
    RemoveLink();
    slave_.reset();
    master_.reset();
    std::lock_guard<std::mutex> guard(mutex_);
    unplugged_ = true;
}

void ScalesSimulator::RemoveLink() {
    std::string path;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        path = std::exchange(linkPath_, "");
    }
    if (path.empty()) {
        return;
    }
    // Only a link that still points at this pseudo-terminal is ours to remove.
    char target[256];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath_) {
        unlink(path.c_str());
    }
}

}  // namespace scalessim
