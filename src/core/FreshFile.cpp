#include "FreshFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "UniqueFd.h"

bool WriteFreshFile(const std::string& path, const std::string& content) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return false;
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        return false;
    }
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd.get(), data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int saved = written == 0 ? EIO : errno;
            fd.reset();
            ::unlink(path.c_str());
            errno = saved;
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}
