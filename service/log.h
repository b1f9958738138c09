#pragma once

#include <sstream>
#include <string>

namespace svc {

enum class LogLevel { Info, Warning, Error };

// Lines go to standard error and, once a folder is set, to one file per day in that folder.
void setLogFolder(const std::string &folder);
// Writes one line: control characters in text (a newline in a request's path, a terminal
// escape in a file name) are written escaped, so nothing a client sends can forge a line.
void writeLog(LogLevel level, const std::string &text);

// The text with its control characters as C escapes ("\n", "\x1b"); a backslash stays as it is.
std::string escapeControlCharacters(const std::string &text);

template<typename... Args> std::string concat(const Args &...args)
{
    std::ostringstream out;
    (out << ... << args);
    return out.str();
}

template<typename... Args> void logInfo(const Args &...args)
{
    writeLog(LogLevel::Info, concat(args...));
}
template<typename... Args> void logWarning(const Args &...args)
{
    writeLog(LogLevel::Warning, concat(args...));
}
template<typename... Args> void logError(const Args &...args)
{
    writeLog(LogLevel::Error, concat(args...));
}

} // namespace svc
