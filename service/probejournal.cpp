#include "service/probejournal.h"

#include "service/folderscanner.h"
#include "service/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace svc {
namespace {

constexpr uint64_t CompactAfterBytes = 1 << 20;
constexpr int SetAside = 2;

std::string fileLine(const ProbeJournal::File &file)
{
    return std::to_string(file.size) + ' ' + std::to_string(file.mtimeMs) + ' '
        + escapeJournalPath(file.path);
}

// "<size> <mtime> <path>"; false when the text is not of that form.
bool parseFileLine(std::istream &in, ProbeJournal::File &file)
{
    if (!(in >> file.size >> file.mtimeMs) || in.get() != ' ')
        return false;
    std::string rest;
    std::getline(in, rest);
    file.path = unescapeJournalPath(rest);
    return !file.path.empty();
}

// The crash handler's state: plain values that a signal handler may read.
int crashFd = -1;
thread_local uint64_t currentReading = 0;
thread_local bool hasSignalStack = false;

void onCrash(int signal)
{
    if (const uint64_t number = currentReading; number != 0 && crashFd >= 0) {
        char line[24];
        size_t length = sizeof line;
        line[--length] = '\n';
        for (uint64_t rest = number; rest != 0; rest /= 10)
            line[--length] = char('0' + rest % 10);
        line[--length] = '!';
        [[maybe_unused]] const ssize_t written
            = ::write(crashFd, line + length, sizeof line - length);
    }
    // Die of the same signal, so whoever watches the process sees the crash as it was.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installCrashHandler(int fd)
{
    crashFd = fd;
    struct sigaction action
    {
    };
    action.sa_handler = onCrash;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT })
        sigaction(signal, &action, nullptr);
}

// A stack overflow leaves no stack for the handler; reading threads get one of their own.
// It stays for the thread's life: the service's reading threads live as long as it does.
void ensureSignalStack()
{
    if (hasSignalStack)
        return;
    hasSignalStack = true;
    stack_t stack {};
    stack.ss_size = 64 * 1024;
    stack.ss_sp = std::malloc(stack.ss_size);
    if (stack.ss_sp && sigaltstack(&stack, nullptr) != 0)
        std::free(stack.ss_sp);
}

bool stillTheSame(const ProbeJournal::File &file)
{
    struct stat info
    {
    };
    return stat(file.path.c_str(), &info) == 0 && int64_t(info.st_size) == file.size
        && modificationMs(info) == file.mtimeMs;
}

} // namespace

std::string escapeJournalPath(const std::string &path)
{
    std::string text;
    text.reserve(path.size());
    for (const char c : path) {
        if (c == '\\')
            text += "\\\\";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else
            text += c;
    }
    return text;
}

std::string unescapeJournalPath(const std::string &text)
{
    std::string path;
    path.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            path += text[i];
            continue;
        }
        const char next = text[++i];
        path += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return path;
}

ProbeJournal::ProbeJournal(const std::string &folder)
{
    if (folder.empty())
        return;
    m_journalPath = folder + "/reading.journal";
    m_setAsidePath = folder + "/unreadable-files.txt";
    recover();
    m_fd = ::open(m_journalPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (m_fd < 0)
        logWarning("cannot write ", m_journalPath,
                   "; a file that crashes the reader is not remembered");
    else
        installCrashHandler(m_fd);
}

ProbeJournal::~ProbeJournal()
{
    if (m_fd < 0)
        return;
    if (crashFd == m_fd)
        crashFd = -1;
    ::close(m_fd);
}

void ProbeJournal::recover()
{
    std::map<uint64_t, File> unfinished;
    std::set<uint64_t> crashed;
    std::ifstream journal(m_journalPath);
    for (std::string line; std::getline(journal, line);) {
        std::istringstream in(line);
        char kind = 0;
        uint64_t number = 0;
        if (!(in >> kind >> number))
            continue;
        File file;
        if (kind == '-')
            unfinished.erase(number);
        else if (kind == '!')
            crashed.insert(number);
        else if (kind == '+' && in.get() == ' ' && parseFileLine(in, file))
            unfinished[number] = file;
    }

    std::ifstream strikes(m_setAsidePath);
    for (std::string line; std::getline(strikes, line);) {
        std::istringstream in(line);
        int count = 0;
        File file;
        // A file replaced or gone since gets its chance again.
        if (in >> count && in.get() == ' ' && parseFileLine(in, file) && stillTheSame(file))
            m_strikes[file] = count;
    }
    for (const auto &[number, file] : unfinished) {
        int &count = m_strikes[file];
        count += crashed.count(number) ? SetAside : 1;
        if (crashed.count(number))
            logError("the service crashed while reading ", file.path,
                     "; the file is skipped until it changes");
        else if (count >= SetAside)
            logError("the service stopped twice while reading ", file.path,
                     "; the file is skipped until it changes");
        else
            logWarning("the service stopped while reading ", file.path,
                       "; the file is skipped should that happen again");
    }
    saveStrikes();
}

void ProbeJournal::saveStrikes()
{
    const std::string temporary = m_setAsidePath + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto &[file, count] : m_strikes)
            out << count << ' ' << fileLine(file) << '\n';
        if (!out.flush()) {
            std::remove(temporary.c_str());
            return;
        }
    }
    std::rename(temporary.c_str(), m_setAsidePath.c_str());
}

bool ProbeJournal::isSetAside(const File &file) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_strikes.find(file);
    return found != m_strikes.end() && found->second >= SetAside;
}

uint64_t ProbeJournal::begin(const File &file)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t number = m_next++;
    ++m_open;
    append('+' + std::to_string(number) + ' ' + fileLine(file) + '\n');
    return number;
}

void ProbeJournal::end(uint64_t number, const File &file)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_open;
    // Read to its end, a file with a strike against it is cleared.
    if (const auto found = m_strikes.find(file); found != m_strikes.end()) {
        m_strikes.erase(found);
        saveStrikes();
    }
    // With nothing being read the journal says nothing, so it can start again from empty.
    if (m_open == 0 && m_written > CompactAfterBytes && m_fd >= 0 && ::ftruncate(m_fd, 0) == 0) {
        m_written = 0;
        return;
    }
    append('-' + std::to_string(number) + '\n');
}

void ProbeJournal::append(const std::string &line)
{
    if (m_fd < 0)
        return;
    // One write of a line, with O_APPEND, keeps lines whole between threads.
    if (::write(m_fd, line.data(), line.size()) == ssize_t(line.size()))
        m_written += line.size();
}

ProbeJournal::Reading::Reading(ProbeJournal *journal, const File &file)
    : m_journal(journal)
    , m_file(file)
{
    if (!m_journal)
        return;
    ensureSignalStack();
    m_number = m_journal->begin(file);
    currentReading = m_number;
}

ProbeJournal::Reading::~Reading()
{
    if (!m_journal)
        return;
    currentReading = 0;
    m_journal->end(m_number, m_file);
}

} // namespace svc
