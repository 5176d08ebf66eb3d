#include "TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace testsupport {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "station-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".writing";
    WriteFile(temporary, content);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        Fail("rename " + temporary);
    }
}

StdoutCapture::StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        Fail("pipe");
    }
    savedFd_ = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    readFd_ = fds[0];
    reader_ = std::thread([this] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(readFd_, buffer, sizeof buffer)) > 0) {
            std::lock_guard<std::mutex> guard(mutex_);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == kSyncMark) {
                    ++marksSeen_;
                } else {
                    text_.push_back(buffer[i]);
                }
            }
            marked_.notify_all();
        }
    });
}

StdoutCapture::~StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    // Restoring descriptor 1 closes the pipe's last write end, which ends the reader.
    dup2(savedFd_, STDOUT_FILENO);
    close(savedFd_);
    reader_.join();
    close(readFd_);
    // Replayed so that whatever the test framework reported meanwhile is not lost.
    std::cout << text_ << std::flush;
}

std::string StdoutCapture::Text() const {
    std::cout.flush();
    std::fflush(stdout);
    // A mark written after the flush arrives after everything printed before it, so once the
    // reader has seen it the text is complete up to this call.
    long mark;
    {
        std::lock_guard<std::mutex> sending(sendMutex_);
        mark = ++marksSent_;
        if (write(STDOUT_FILENO, &kSyncMark, 1) != 1) {
            Fail("write to the captured standard output");
        }
    }
    std::unique_lock<std::mutex> guard(mutex_);
    marked_.wait(guard, [&] { return marksSeen_ >= mark; });
    return text_;
}

bool StdoutCapture::WaitForText(const std::string& needle, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return Text().find(needle) != std::string::npos; }, timeout);
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDir,
                           const std::map<std::string, std::string>& extraEnv, bool pipeInput) {
    int outPipe[2];
    int errPipe[2];
    int inSocket[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 ||
        (pipeInput && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inSocket) != 0)) {
        Fail("pipe");
    }

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        env[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    for (const auto& [key, value] : extraEnv) {
        env[key] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : env) {
        envStrings.push_back(key + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeInput) {
        posix_spawn_file_actions_adddup2(&actions, inSocket[0], STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    if (!workingDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    }
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pipeInput) {
        close(inSocket[0]);
        inputFd_ = inSocket[1];
    }
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        CloseInput();
        errno = spawned;
        Fail("posix_spawn " + program);
    }
    outReader_ = std::thread(&ChildProcess::Collect, this, outPipe[0], std::ref(out_));
    errReader_ = std::thread(&ChildProcess::Collect, this, errPipe[0], std::ref(err_));
}

ChildProcess::~ChildProcess() {
    CloseInput();
    if (!status_) {
        // A terminated child gets to clean up after itself (the scales simulator removes its
        // device link); one that does not end in time is killed.
        kill(pid_, SIGTERM);
        if (!WaitExit(5s)) {
            kill(pid_, SIGKILL);
            int ignored;
            waitpid(pid_, &ignored, 0);
        }
    }
    JoinReaders();
}

void ChildProcess::Collect(int fd, std::string& sink) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        std::lock_guard<std::mutex> guard(mutex_);
        sink.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
}

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return out_;
}

std::string ChildProcess::Errors() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return err_;
}

bool ChildProcess::WaitForOutput(const std::string& needle, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return Output().find(needle) != std::string::npos; }, timeout);
}

bool ChildProcess::WaitForErrors(const std::string& needle, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return Errors().find(needle) != std::string::npos; }, timeout);
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds timeout) {
    WaitFor(
        [&] {
            if (status_) {
                return true;
            }
            int raw = 0;
            if (waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
            }
            return status_.has_value();
        },
        timeout);
    if (status_) {
        // Everything the process wrote is collected before its status is reported.
        JoinReaders();
    }
    return status_;
}

void ChildProcess::JoinReaders() {
    if (outReader_.joinable()) {
        outReader_.join();
    }
    if (errReader_.joinable()) {
        errReader_.join();
    }
}

bool ChildProcess::Input(const std::string& text) {
    size_t done = 0;
    while (inputFd_ >= 0 && done < text.size()) {
        // A socket rather than a pipe: a child that has gone away must not take the test
        // with it through SIGPIPE.
        const ssize_t n = send(inputFd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return inputFd_ >= 0;
}

void ChildProcess::CloseInput() {
    if (inputFd_ >= 0) {
        close(inputFd_);
        inputFd_ = -1;
    }
}

void ChildProcess::Signal(int signal) {
    if (!status_) {
        kill(pid_, signal);
    }
}

}  // namespace testsupport
