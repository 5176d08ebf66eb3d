// Helpers shared by the test programs: temporary directories, files, waiting on conditions,
// capturing this process's standard output, and running a real child process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;

// Generous bound for anything a test waits on; a healthy run never comes near it.
inline constexpr std::chrono::milliseconds kPatience = 30s;

// Polls `condition` until it holds or `timeout` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kPatience);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Writes under a temporary name and renames into place, as a careful client does.
void WriteFileAtomically(const std::string& path, const std::string& content);

// Collects everything written to this process's standard output (file descriptor 1) while it
// lives, so that a test can wait for a line that another thread prints.
class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string Text() const;
    bool WaitForText(const std::string& needle, std::chrono::milliseconds timeout = kPatience);

  private:
    // Never printed by the programs under test.
    static constexpr char kSyncMark = '\x02';

    int savedFd_ = -1;
    int readFd_ = -1;
    mutable std::mutex mutex_;
    mutable std::condition_variable marked_;
    mutable std::mutex sendMutex_;
    mutable long marksSent_ = 0;
    long marksSeen_ = 0;
    std::string text_;
    std::thread reader_;
};

// A real child process with its standard output and error collected. Its standard input is
// /dev/null, or with `pipeInput` a stream socket that Input() writes to. The destructor ends
// and reaps it if it is still running.
class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDir = "",
                 const std::map<std::string, std::string>& extraEnv = {}, bool pipeInput = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::string Output() const;
    std::string Errors() const;
    bool WaitForOutput(const std::string& needle, std::chrono::milliseconds timeout = kPatience);
    bool WaitForErrors(const std::string& needle, std::chrono::milliseconds timeout = kPatience);
    // The exit status once the process has exited normally, -1 if a signal ended it, nothing
    // if it is still running after `timeout`.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout = kPatience);
    void Signal(int signal);
    // Writes to the child's standard input; false if it cannot take it.
    bool Input(const std::string& text);
    // The child sees the end of its input.
    void CloseInput();

  private:
    void Collect(int fd, std::string& sink);
    void JoinReaders();

    pid_t pid_ = -1;
    int inputFd_ = -1;
    std::optional<int> status_;
    mutable std::mutex mutex_;
    std::string out_;
    std::string err_;
    std::thread outReader_;
    std::thread errReader_;
};

}  // namespace testsupport
