#pragma once

#include <sstream>
#include <string>

namespace svc {

enum class LogLevel { Info, Warning, Error };

// Lines go to standard error and, once a folder is set, to one file per day in that folder.
void setLogFolder(const std::string &folder);
void writeLog(LogLevel level, const std::string &text);

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
