#include "service/transcoder.h"

#include "service/log.h"
#include "service/timeseek.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <glob.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace svc {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What is kept of ffmpeg's error output: enough for the lines that say what went wrong.
constexpr size_t KeptErrorOutput = 4096;
constexpr size_t NotedFilesLimit = 1000;

void append(std::vector<std::string> &args, std::initializer_list<std::string> more)
{
    args.insert(args.end(), more);
}

std::string firstLine(const std::string &text)
{
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty())
            return line.size() > 300 ? line.substr(0, 300) + "..." : line;
        begin = end + 1;
    }
    return {};
}

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status))
        return concat("ffmpeg ended by signal ", WTERMSIG(status));
    return concat("ffmpeg exited with status ", WEXITSTATUS(status));
}

int millisecondsLeft(Clock::time_point deadline)
{
    // Rounded up: a wait of 0 ms for a deadline still ahead would spin.
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()
                                                               + std::chrono::microseconds(999))
                          .count();
    return int(std::clamp<int64_t>(left, 0, 1000000));
}

unsigned coreCount()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return unsigned(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string findProgram(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char *path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return {};
}

// The standard descriptors of the child are dup2 targets; a pipe end among them would be
// overwritten before it is copied.
void aboveStandardDescriptors(int &fd)
{
    if (fd >= 0 && fd < 3) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        fd = moved;
    }
}

void closePair(int pair[2])
{
    for (int i = 0; i < 2; ++i) {
        if (pair[i] >= 0)
            close(pair[i]);
        pair[i] = -1;
    }
}

struct Child
{
    pid_t pid = -1;
    int out = -1; // standard output's read end, non-blocking
    int err = -1; // standard error's read end, non-blocking
};

// Starts program with args and no shell. The child has /dev/null, the two pipes and nothing
// else of the service (no sockets, no library files), default signal handling, and dies with
// the thread that started it.
bool spawnChild(const std::string &program, const std::vector<std::string> &args, Child &child,
                std::string &error)
{
    int out[2] = { -1, -1 };
    int err[2] = { -1, -1 };
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        error = concat("no pipe for ffmpeg: errno ", errno);
        closePair(out);
        closePair(err);
        return false;
    }
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (int *fd : { &out[0], &out[1], &err[0], &err[1], &devNull })
        aboveStandardDescriptors(*fd);
    // A larger pipe means fewer wake-ups of the reader; the default stays where it is refused.
    fcntl(out[0], F_SETPIPE_SZ, 1 << 20);

    // Everything the child needs is made before fork: between fork and exec only
    // async-signal-safe calls are allowed in a process with threads.
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string execFailed = "cannot run " + program + "\n";
    rlimit files {};
    const int descriptorLimit = getrlimit(RLIMIT_NOFILE, &files) == 0
        ? int(std::min<rlim_t>(files.rlim_cur, 65536))
        : 1024;
    const pid_t parent = getpid();
    // No signal handler of the service may run in the child before exec.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0)
            _exit(127);
        if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0) {
            for (int fd = 3; fd < descriptorLimit; ++fd)
                close(fd);
        }
        // The service ignores SIGPIPE and blocks its stop signals; ffmpeg gets the defaults.
        struct sigaction standard
        {
        };
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        for (int signal = 1; signal < NSIG; ++signal)
            sigaction(signal, &standard, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program.c_str(), argv.data(), environ);
        [[maybe_unused]] const ssize_t written = write(2, execFailed.data(), execFailed.size());
        _exit(127);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(out[1]);
    close(err[1]);
    if (devNull >= 0)
        close(devNull);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        error = concat("cannot start ffmpeg: errno ", forkError);
        return false;
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    child = { pid, out[0], err[0] };
    return true;
}

// Runs a short ffmpeg to its end, at most for timeout: whether it succeeded, and its errors.
bool runToEnd(const std::string &program, const std::vector<std::string> &args,
              milliseconds timeout, std::string &errors)
{
    Child child;
    if (!spawnChild(program, args, child, errors))
        return false;
    const auto deadline = Clock::now() + timeout;
    int open = 2;
    while (open > 0 && Clock::now() < deadline) {
        pollfd fds[2] = { { child.out, POLLIN, 0 }, { child.err, POLLIN, 0 } };
        if (poll(fds, 2, millisecondsLeft(deadline)) < 0 && errno != EINTR)
            break;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0 && i == 1 && errors.size() < KeptErrorOutput)
                errors.append(buffer, size_t(n));
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                close(fds[i].fd);
                (i == 0 ? child.out : child.err) = -1;
                --open;
            }
        }
    }
    if (open > 0) {
        kill(child.pid, SIGKILL);
        errors = "no answer within " + std::to_string(timeout.count() / 1000) + " s";
    }
    for (const int fd : { child.out, child.err }) {
        if (fd >= 0)
            close(fd);
    }
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) { }
    return open == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A VA-API render node is used only where ffmpeg encodes a frame with it: a node without a
// driver, or a driver without H.264 encoding, is common.
EncoderChoice detectEncoder(const std::string &program)
{
    glob_t found {};
    std::vector<std::string> nodes;
    if (glob("/dev/dri/renderD*", 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i)
            nodes.emplace_back(found.gl_pathv[i]);
    }
    globfree(&found);
    if (nodes.empty()) {
        logInfo("transcodes encode H.264 with libx264: no VA-API render node");
        return {};
    }
    std::string reasons;
    for (const std::string &node : nodes) {
        std::string errors;
        std::vector<std::string> args
            = { "-nostdin", "-hide_banner", "-loglevel", "error", "-vaapi_device", node };
        for (const char *arg :
             { "-f", "lavfi", "-i", "color=c=black:s=256x256:r=1:d=1", "-frames:v", "1", "-vf",
               "format=nv12,hwupload", "-c:v", "h264_vaapi", "-f", "null", "-" })
            args.emplace_back(arg);
        if (runToEnd(program, args, milliseconds(10000), errors)) {
            logInfo("transcodes encode H.264 with VA-API on ", node);
            return { Encoder::Vaapi, node };
        }
        const std::string why = firstLine(errors);
        reasons += concat(reasons.empty() ? "" : "; ", node, ": ",
                          why.empty() ? "the test encode failed" : why);
    }
    logInfo("transcodes encode H.264 with libx264: VA-API does not encode (", reasons, ")");
    return {};
}

// Starts every child on one long-lived thread: a child's parent-death signal follows the thread
// that forked it, and the route threads that ask for streams come and go.
class Launcher
{
public:
    Launcher()
        : m_thread([this] { run(); })
    {
    }
    ~Launcher() { stop(); }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    // Runs job on the launcher's thread; false without running it once stopped.
    bool call(const std::function<void()> &job)
    {
        std::packaged_task<void()> task(job);
        auto done = task.get_future();
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return false;
            m_queue.push_back(std::move(task));
        }
        m_wake.notify_one();
        done.get();
        return true;
    }

private:
    void run()
    {
        for (;;) {
            std::packaged_task<void()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

std::shared_future<EncoderChoice> readyEncoder(EncoderChoice choice)
{
    std::promise<EncoderChoice> promise;
    promise.set_value(std::move(choice));
    return promise.get_future().share();
}

} // namespace

struct Transcoder::Shared
{
    std::mutex mutex;
    unsigned running = 0;
    bool stopping = false;
    // Children not reaped yet: only these may be signalled, so a pid is never reused under us.
    std::set<pid_t> live;
    // Files whose trouble has been logged, so that a player retrying one does not flood the log.
    std::set<std::string> noted;
    Launcher launcher;
    std::shared_future<EncoderChoice> encoder;

    bool noteOnce(const std::string &path)
    {
        std::lock_guard lock(mutex);
        if (noted.size() >= NotedFilesLimit)
            noted.clear();
        return noted.insert(path).second;
    }
};

struct TranscodeStream::Slot
{
    std::shared_ptr<Transcoder::Shared> shared;
    ~Slot()
    {
        if (shared) {
            std::lock_guard lock(shared->mutex);
            --shared->running;
        }
    }
};

std::vector<std::string> ffmpegArguments(const std::string &path, const StreamFacts &facts,
                                         Delivery delivery, int64_t startMs,
                                         const EncoderChoice &encoder)
{
    if (delivery == Delivery::Direct)
        return {};
    const bool vaapi = delivery == Delivery::Transcode && encoder.encoder == Encoder::Vaapi;
    std::vector<std::string> args
        = { "-nostdin", "-hide_banner", "-loglevel", "error", "-nostats" };
    if (vaapi)
        append(args, { "-vaapi_device", encoder.device });
    // AVI and FLV leave B-frames without timestamps, which MPEG-TS needs.
    if (delivery == Delivery::Remux)
        append(args, { "-fflags", "+genpts" });
    if (startMs > 0)
        append(args, { "-ss", formatSeconds(startMs) });
    // "file:" keeps ffmpeg from taking a protocol ("concat:", "http:") from the name. "V" skips
    // cover pictures, "?" lets a video without sound through.
    append(args, { "-i", "file:" + path, "-map", "0:V:0", "-map", "0:a:0?" });

    if (delivery == Delivery::Remux) {
        append(args, { "-c:v", "copy" });
    } else {
        std::string filter;
        const PictureSize size = transcodedSize(facts.width, facts.height);
        if (size.width != facts.width || size.height != facts.height || size.width == 0) {
            // Computed by ffmpeg from the real picture, in case the library's facts are old.
            const std::string side = std::to_string(MaxH264Side);
            filter = "scale=w='min(iw," + side + ")':h='min(ih," + side
                + ")':force_original_aspect_ratio=decrease:force_divisible_by=2";
        }
        if (vaapi)
            filter += std::string(filter.empty() ? "" : ",") + "format=nv12,hwupload";
        if (!filter.empty())
            append(args, { "-vf", filter });
        if (vaapi) {
            append(args, { "-c:v", "h264_vaapi", "-profile:v", "main" });
        } else {
            // zerolatency: no lookahead and no B-frames. On two cores it brings the first
            // bytes of a 4K transcode from about 1.4 s to 0.3 s at the same speed; the
            // price, about 1.7 times the bitrate, is what a LAN carries easily.
            append(args,
                   { "-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-profile:v",
                     "main", "-pix_fmt", "yuv420p" });
        }
        // A keyframe every 2 s, so a player seeking in what it has received lands near.
        append(args, { "-force_key_frames", "expr:gte(t,n_forced*2)" });
    }
    if (delivery == Delivery::Remux && tsCarriesAudio(facts.audioCodec))
        append(args, { "-c:a", "copy" });
    else
        append(args, { "-c:a", "aac", "-ac", "2", "-b:a", "160k" });

    // A player shows the time of what it plays: after a seek that is the seek's position.
    if (startMs > 0)
        append(args, { "-output_ts_offset", formatSeconds(startMs) });
    // The TS muxer would hold packets back and shift every timestamp by 1.4 s.
    append(
        args,
        { "-muxdelay", "0", "-muxpreload", "0", "-flush_packets", "1", "-f", "mpegts", "pipe:1" });
    return args;
}

Transcoder::Transcoder()
    : Transcoder(Options())
{
}

Transcoder::Transcoder(Options options)
    : m_options(std::move(options))
    , m_shared(std::make_shared<Shared>())
{
    m_program = findProgram(m_options.program);
    m_maxStreams = m_options.maxStreams > 0 ? m_options.maxStreams : coreCount();
    if (m_program.empty()) {
        logWarning(m_options.program,
                   " is not installed: videos the headset cannot play are not converted");
        m_shared->encoder = readyEncoder({});
    } else if (m_options.encoder) {
        m_shared->encoder = readyEncoder(*m_options.encoder);
    } else {
        // A test encode takes a moment; the service answers meanwhile.
        m_shared->encoder = std::async(std::launch::async, detectEncoder, m_program).share();
    }
}

Transcoder::~Transcoder()
{
    stopAll();
    m_shared->launcher.stop();
}

void Transcoder::stopAll()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->stopping = true;
    for (const pid_t pid : m_shared->live)
        kill(pid, SIGKILL);
}

EncoderChoice Transcoder::encoder() const
{
    // Each thread reads the shared state through a copy of its own.
    const std::shared_future<EncoderChoice> detected = m_shared->encoder;
    return detected.get();
}

unsigned Transcoder::running() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->running;
}

std::unique_ptr<TranscodeStream> Transcoder::launch(const std::string &path,
                                                    const StreamFacts &facts, Delivery delivery,
                                                    int64_t startMs, const EncoderChoice &encoder,
                                                    std::string &error)
{
    const auto args = ffmpegArguments(path, facts, delivery, startMs, encoder);
    // Once per stream, so that what ran can be run again by hand.
    std::string command = m_program;
    for (const std::string &arg : args)
        command += " '" + arg + "'";
    logInfo(deliveryName(delivery), " of ", path, ": ", command);
    Child child;
    bool spawned = false;
    if (!m_shared->launcher.call([&] { spawned = spawnChild(m_program, args, child, error); })) {
        error = "the service is stopping";
        return nullptr;
    }
    if (!spawned)
        return nullptr;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopping)
            kill(child.pid, SIGKILL);
        else
            m_shared->live.insert(child.pid);
    }
    return std::unique_ptr<TranscodeStream>(
        new TranscodeStream(m_shared, child.pid, child.out, child.err, path, delivery,
                            delivery == Delivery::Transcode ? encoder.encoder : Encoder::Libx264,
                            startMs <= 0, m_options.stallLimit));
}

Transcoder::Started Transcoder::start(const std::string &path, const StreamFacts &facts,
                                      Delivery delivery, int64_t startMs)
{
    Started started;
    started.refusal = Refusal::Failed;
    if (delivery == Delivery::Direct) {
        started.reason = "the file is sent as it is";
        return started;
    }
    if (m_program.empty()) {
        started.reason = m_options.program + " is not installed";
        return started;
    }
    auto slot = std::make_unique<TranscodeStream::Slot>();
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopping) {
            started.refusal = Refusal::Stopping;
            started.reason = "the service is stopping";
            return started;
        }
        if (m_shared->running >= m_maxStreams) {
            started.refusal = Refusal::Busy;
            started.reason = concat("all ", m_maxStreams, " conversion slots are in use");
            return started;
        }
        ++m_shared->running;
        slot->shared = m_shared;
    }

    EncoderChoice choice = delivery == Delivery::Transcode ? encoder() : EncoderChoice {};
    for (;;) {
        std::string error;
        auto stream = launch(path, facts, delivery, startMs, choice, error);
        if (!stream) {
            started.reason = error;
            return started;
        }
        // A VA-API failure is told once, with the fallback.
        stream->m_logFailure = choice.encoder != Encoder::Vaapi;
        auto outcome = stream->wait(m_options.firstOutputLimit);
        if (outcome == TranscodeStream::Wait::Data) {
            stream->m_logFailure = true;
            stream->m_slot = std::move(slot);
            started.stream = std::move(stream);
            started.refusal = Refusal::None;
            return started;
        }
        if (outcome == TranscodeStream::Wait::Timeout)
            stream->finish(
                concat("no output within ", m_options.firstOutputLimit.count() / 1000, " s"));
        const std::string reason
            = stream->error().empty() ? "ffmpeg ended without output" : stream->error();
        bool stopping = false;
        {
            std::lock_guard lock(m_shared->mutex);
            stopping = m_shared->stopping;
        }
        if (choice.encoder == Encoder::Vaapi && !stopping) {
            logWarning("VA-API did not encode ", path, " (", reason, "), using libx264");
            choice = {};
            continue;
        }
        started.refusal = stopping ? Refusal::Stopping : Refusal::Failed;
        started.reason = reason;
        return started;
    }
}

TranscodeStream::TranscodeStream(std::shared_ptr<Transcoder::Shared> shared, pid_t pid, int out,
                                 int err, std::string path, Delivery delivery, Encoder encoder,
                                 bool fromStart, milliseconds stallLimit)
    : m_shared(std::move(shared))
    , m_pid(pid)
    , m_out(out)
    , m_err(err)
    , m_path(std::move(path))
    , m_delivery(delivery)
    , m_encoder(encoder)
    , m_fromStart(fromStart)
    , m_stallLimit(stallLimit)
{
}

TranscodeStream::~TranscodeStream()
{
    if (!m_reaped) {
        kill(m_pid, SIGKILL);
        reap();
    }
    for (const int fd : { m_out, m_err }) {
        if (fd >= 0)
            close(fd);
    }
}

void TranscodeStream::readErrors()
{
    char buffer[4096];
    while (m_err >= 0) {
        const ssize_t n = ::read(m_err, buffer, sizeof buffer);
        if (n > 0) {
            if (m_errors.size() < KeptErrorOutput)
                m_errors.append(buffer, std::min(size_t(n), KeptErrorOutput - m_errors.size()));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        close(m_err);
        m_err = -1;
    }
}

TranscodeStream::Wait TranscodeStream::wait(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!m_ended) {
        const auto now = Clock::now();
        if (!m_idleSince)
            m_idleSince = now;
        const auto stallAt = *m_idleSince + m_stallLimit;
        pollfd fds[2] = { { m_out, POLLIN, 0 }, { m_err, POLLIN, 0 } };
        const int ready
            = poll(fds, m_err >= 0 ? 2 : 1, millisecondsLeft(std::min(deadline, stallAt)));
        if (ready < 0 && errno != EINTR) {
            finish(concat("cannot wait for ffmpeg: errno ", errno));
            break;
        }
        if (m_err >= 0 && fds[1].revents)
            readErrors();
        if (fds[0].revents & POLLIN) {
            // Output is progress; the stall clock restarts when the pipe is empty again.
            m_idleSince.reset();
            return Wait::Data;
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            finish({});
            break;
        }
        if (Clock::now() >= stallAt) {
            finish(concat("no output for ", m_stallLimit.count() / 1000.0, " s"));
            break;
        }
        if (Clock::now() >= deadline)
            return Wait::Timeout;
    }
    return Wait::End;
}

ssize_t TranscodeStream::read(char *buffer, size_t size, milliseconds timeout)
{
    for (;;) {
        const Wait outcome = wait(timeout);
        if (outcome == Wait::End)
            return 0;
        if (outcome == Wait::Timeout)
            return -1;
        const ssize_t n = ::read(m_out, buffer, size);
        if (n > 0)
            return n;
        if (n == 0) {
            finish({});
            return 0;
        }
        if (errno != EINTR && errno != EAGAIN) {
            finish(concat("cannot read ffmpeg's output: errno ", errno));
            return 0;
        }
    }
}

void TranscodeStream::finish(const std::string &reason)
{
    if (m_ended)
        return;
    m_ended = true;
    if (!reason.empty())
        kill(m_pid, SIGKILL);
    // What ffmpeg wrote last says why it stopped; its error pipe closes as it exits.
    const auto deadline = Clock::now() + milliseconds(1000);
    while (m_err >= 0 && Clock::now() < deadline) {
        pollfd fd = { m_err, POLLIN, 0 };
        if (poll(&fd, 1, millisecondsLeft(deadline)) > 0)
            readErrors();
    }
    reap();
    bool stopping = false;
    {
        std::lock_guard lock(m_shared->mutex);
        stopping = m_shared->stopping;
    }
    const bool succeeded = WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0;
    const std::string said = firstLine(m_errors);
    if (!reason.empty()) {
        m_failed = true;
        m_error = reason;
    } else if (succeeded) {
        // Decoders conceal damaged frames and go on; the file is worth a line in the log. Not
        // after a seek: that lands mid-frame, and the decoders complain of it in any file.
        if (!said.empty() && m_fromStart && m_shared->noteOnce(m_path))
            logInfo(m_path, ": ffmpeg went on after errors: ", said);
        return;
    } else if (stopping) {
        m_failed = true;
        m_error = "the service is stopping";
        return;
    } else {
        m_failed = true;
        m_error = said.empty() ? describeStatus(m_status) : said;
    }
    if (m_logFailure && m_shared->noteOnce(m_path))
        logWarning(m_path, ": ", deliveryName(m_delivery), " stopped: ", m_error);
}

void TranscodeStream::reap()
{
    if (m_reaped)
        return;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->live.erase(m_pid);
    }
    // Out of the live set nothing else signals the pid, and it stays ours until waited for.
    // ffmpeg exits right after closing its output; a child that lingers is helped.
    int status = 0;
    bool reaped = false;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (!reaped && Clock::now() < deadline) {
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR))
            reaped = true;
        else if (done == 0)
            std::this_thread::sleep_for(milliseconds(5));
    }
    if (!reaped) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
    }
    m_status = status;
    m_reaped = true;
}

} // namespace svc
