#include "ExchangeFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "FreshFile.h"
#include "UniqueFd.h"

namespace servermod {

namespace {

// Non-blocking, so that a FIFO planted at an exchange path cannot stall the server's thread.
UniqueFd OpenForReading(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

}  // namespace

bool OpensForReading(const std::string& path) {
    return OpenForReading(path).valid();
}

std::string ReadRequestFile(const std::string& path) {
    const UniqueFd fd = OpenForReading(path);
    if (!fd.valid()) {
        throw std::system_error(errno, std::generic_category(), "cannot open " + path);
    }
    std::string content;
    char buffer[16 * 1024];
    while (true) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot read " + path);
        }
        if (n == 0) {
            return content;
        }
        // Checked while reading, so that an endless source is never held in memory whole.
        if (content.size() + static_cast<size_t>(n) > kMaxRequestBytes) {
            throw std::length_error("request file " + path + " is larger than " +
                                    std::to_string(kMaxRequestBytes) + " bytes");
        }
        content.append(buffer, static_cast<size_t>(n));
    }
}

bool PublishDocument(const std::string& temporary, const std::string& path,
                     const std::string& content) {
    // Only a file written here in full is ever renamed into place; when writing fails there is
    // nothing of ours to rename, and errno tells why.
    if (!WriteFreshFile(temporary, content)) {
        return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace servermod
