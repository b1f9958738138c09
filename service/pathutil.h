#pragma once

#include <optional>
#include <string>

namespace svc {

// Makes an absolute local path canonical in form only ("//", "/./" and trailing "/" removed),
// without touching the disk. Relative paths, ".." segments and NUL bytes are refused, because a
// path from a request must name exactly one place.
std::optional<std::string> normalizeLocalPath(const std::string &path, std::string &error);

std::string baseName(const std::string &path);
std::string parentPath(const std::string &path);

// Whether path lies strictly below folder (both normalised).
bool isBelow(const std::string &path, const std::string &folder);

bool isValidUtf8(const std::string &text);

// Number of characters of valid UTF-8 text.
size_t utf8Length(const std::string &text);

} // namespace svc
