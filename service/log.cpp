#include "service/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace svc {
namespace {

std::mutex logMutex;
std::string logFolder;
std::string openDay;
FILE *logFile = nullptr;

const char *levelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Info:
        return "info";
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Error:
        return "error";
    }
    return "info";
}

} // namespace

std::string escapeControlCharacters(const std::string &text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            escaped += c;
            continue;
        }
        switch (c) {
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default: {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            escaped += code;
        }
        }
    }
    return escaped;
}

void setLogFolder(const std::string &folder)
{
    std::lock_guard<std::mutex> lock(logMutex);
    logFolder = folder;
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    openDay.clear();
}

void writeLog(LogLevel level, const std::string &message)
{
    const std::string text = escapeControlCharacters(message);
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millis = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local {};
    localtime_r(&seconds, &local);
    char day[16];
    char stamp[32];
    std::strftime(day, sizeof day, "%Y-%m-%d", &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char line[64];
    std::snprintf(line, sizeof line, "%s.%03d [%s] ", stamp, millis, levelName(level));

    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(stderr, "%s%s\n", line, text.c_str());
    if (logFolder.empty())
        return;
    if (openDay != day) {
        if (logFile)
            std::fclose(logFile);
        openDay = day;
        logFile = std::fopen((logFolder + "/" + day + ".txt").c_str(), "a");
    }
    if (logFile) {
        std::fprintf(logFile, "%s%s\n", line, text.c_str());
        std::fflush(logFile);
    }
}

} // namespace svc
