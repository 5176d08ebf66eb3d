#include "Exchange.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include "FreshFile.h"

namespace stationclient {

namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 10ms;
// The core removes a request just before it puts the response in place; a request gone for
// this long without a new response was refused.
constexpr auto kRefusalGrace = 1s;

std::string Resolve(const std::string& path, const std::string& workDir) {
    if (path.empty() || path.front() == '/') {
        return path;
    }
    return workDir + "/" + path;
}

// The core renames a freshly created file over the response, so a new response is a new file.
std::optional<std::pair<dev_t, ino_t>> Identity(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return std::make_pair(info.st_dev, info.st_ino);
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

ExchangePaths ResolvePaths(const CoreParams& settings, const std::string& workDir) {
    return {Resolve(settings.RequestJsonFilePath, workDir),
            Resolve(settings.RequestTempJsonFilePath, workDir),
            Resolve(settings.ResponseJsonFilePath, workDir)};
}

Reply SendRequest(const ExchangePaths& paths, const std::string& request, bool expectResponse,
                  std::chrono::milliseconds timeout) {
    // Replacing a request that is still waiting would answer someone else's question.
    if (Exists(paths.request)) {
        return {Outcome::NotPlaced, "", "a request is already waiting at " + paths.request};
    }
    const auto before = Identity(paths.response);
    if (!WriteFreshFile(paths.requestTemp, request + "\n") ||
        std::rename(paths.requestTemp.c_str(), paths.request.c_str()) != 0) {
        return {Outcome::NotPlaced, "",
                "cannot place the request at " + paths.request + ": " + std::strerror(errno)};
    }

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<std::chrono::steady_clock::time_point> consumedAt;
    while (true) {
        if (expectResponse) {
            const auto now = Identity(paths.response);
            if (now && now != before) {
                return {Outcome::Answered, ReadWhole(paths.response), ""};
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (!consumedAt && !Exists(paths.request)) {
            consumedAt = now;
            if (!expectResponse) {
                return {Outcome::Consumed, "", ""};
            }
        }
        if (consumedAt && now - *consumedAt >= kRefusalGrace) {
            return {Outcome::Refused, "", ""};
        }
        if (now >= deadline) {
            // Withdrawn, so that it neither blocks the next request nor waits for a core that
            // starts much later; a core already serving it still answers.
            if (!consumedAt) {
                std::remove(paths.request.c_str());
            }
            return {Outcome::TimedOut, "", ""};
        }
        std::this_thread::sleep_for(kPoll);
    }
}

}  // namespace stationclient
