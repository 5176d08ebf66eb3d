// The exchange files on disk: noticing and reading a request, putting a document in place whole.
#pragma once

#include <cstddef>
#include <string>

namespace servermod {

// The board has little memory: a request file beyond this is refused without being read further.
inline constexpr std::size_t kMaxRequestBytes = 1024 * 1024;

// Whether the file at `path` can be opened for reading (a request, or an uncollected result).
bool OpensForReading(const std::string& path);

// The whole content of the request file. Throws std::system_error when it cannot be read and
// std::length_error when it holds more than kMaxRequestBytes.
std::string ReadRequestFile(const std::string& path);

// Writes `content` to a freshly created file at `temporary` and renames it over `path`, so that
// a reader of `path` sees the previous document or this one, never a part. False when the
// document could not be put in place, with errno set by the failing call.
bool PublishDocument(const std::string& temporary, const std::string& path,
                     const std::string& content);

}  // namespace servermod
