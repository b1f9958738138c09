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

// Whether importing path would take in the whole file system or one of the system's virtual
// trees (/proc, /sys, /dev, /run), by whatever name: a symbolic link to "/" and /proc/self/root
// are "/" as well. Judged by the canonical path where the path exists.
bool isSystemTree(const std::string &path);

bool isValidUtf8(const std::string &text);

// Number of characters of valid UTF-8 text.
size_t utf8Length(const std::string &text);

} // namespace svc
