// Helpers for the scales tests: standard error capture, the scales' fixed device path, and
// pseudo-terminals standing in for a serial line.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UniqueFd.h"

namespace scalestest {

inline constexpr char kScalesPath[] = "/dev/ttySCALES0";
inline constexpr int kScalesPort = 24;

// Why a test that puts a link at the scales' fixed path cannot run here, if it cannot.
inline std::optional<std::string> ScalesPathUnusable() {
    if (geteuid() != 0) {
        return std::string("needs root to make ") + kScalesPath + " a link to a pseudo-terminal";
    }
    if (testsupport::FileExists(kScalesPath)) {
        return std::string("something already stands at ") + kScalesPath + "; not replacing it";
    }
    return std::nullopt;
}

// Collects what this process writes to standard error (file descriptor 2) while it lives.
class StderrCapture {
  public:
    StderrCapture() : path_(dir_ / "stderr") {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string Text() const {
        std::fflush(stderr);
        return testsupport::ReadFile(path_);
    }

  private:
    testsupport::TempDir dir_;
    std::string path_;
    int saved_ = -1;
};

// The descriptors of this process that are open on `path` (the link's target, for a link).
inline std::vector<int> DescriptorsOn(const std::string& path) {
    std::vector<int> fds;
    std::error_code ignored;
    const std::string target = std::filesystem::canonical(path, ignored).string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto points = std::filesystem::read_symlink(entry.path(), error);
        if (!error && (points == path || points == target)) {
            fds.push_back(std::stoi(entry.path().filename().string()));
        }
    }
    return fds;
}

inline int QueuedInput(int fd) {
    int queued = 0;
    ioctl(fd, FIONREAD, &queued);
    return queued;
}

// A pseudo-terminal whose slave side the scales' fixed path links to, with both sides held
// here: the test plays the device on the master side.
class PtyAtScalesPath {
  public:
    PtyAtScalesPath() {
        master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        char name[128];
        if (!master_.valid() || grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0 ||
            ptsname_r(master_.get(), name, sizeof name) != 0) {
            throw std::runtime_error("cannot open a pseudo-terminal");
        }
        slavePath_ = name;
        slave_.reset(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!slave_.valid() || symlink(name, kScalesPath) != 0) {
            throw std::runtime_error("cannot link " + std::string(kScalesPath));
        }
    }
    ~PtyAtScalesPath() { unlink(kScalesPath); }
    PtyAtScalesPath(const PtyAtScalesPath&) = delete;
    PtyAtScalesPath& operator=(const PtyAtScalesPath&) = delete;

    int master() const { return master_.get(); }
    int slave() const { return slave_.get(); }
    const std::string& slavePath() const { return slavePath_; }

    struct termios Settings() const {
        struct termios settings {};
        tcgetattr(slave_.get(), &settings);
        return settings;
    }

  private:
    UniqueFd master_;
    UniqueFd slave_;
    std::string slavePath_;
};

inline struct termios PtySettings(const std::string& path) {
    struct termios settings {};
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    tcgetattr(fd.get(), &settings);
    return settings;
}

// Whether two terminal settings records say the same.
inline bool SameSettings(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

// Whether a fresh descriptor can take the exclusive lock on `path`, i.e. nobody holds it.
inline bool LockIsFree(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() && flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

}  // namespace scalestest
