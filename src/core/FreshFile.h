// Writes a file that the process creates itself, never through whatever stood at its path.
//
// The core runs as root and several of its files lie in world-writable directories. Whatever
// already stands at the path (an old file, or a symbolic link planted by another user) is
// removed first, and the file is then created exclusively without following links, so the write
// can never land in some other file.
#pragma once

#include <string>

// Writes `content` to a new file at `path` (mode 0644). On failure returns false with errno set
// by the failing call; a partly written file is removed.
bool WriteFreshFile(const std::string& path, const std::string& content);
