#pragma once

#include "service/playability.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace svc {

enum class Encoder { Libx264, Vaapi };

struct EncoderChoice
{
    Encoder encoder = Encoder::Libx264;
    std::string device; // the VA-API render node
};

// The arguments (without the program's name) that make ffmpeg write the Remux or Transcode of
// the file at path, from startMs on, to its standard output as MPEG-TS; empty for Direct.
std::vector<std::string> ffmpegArguments(const std::string &path, const StreamFacts &facts,
                                         Delivery delivery, int64_t startMs,
                                         const EncoderChoice &encoder);

class TranscodeStream;

// Runs ffmpeg for the streams the headset cannot play as they are: each stream its own child
// process, so a decoder's fault costs one stream, never the service.
class Transcoder
{
public:
    struct Options
    {
        std::string program = "ffmpeg"; // a name looked up in PATH, or a path
        unsigned maxStreams = 0; // 0: as many as the machine has cores
        // None: VA-API where a render node encodes with it, else libx264 (found once, at start).
        std::optional<EncoderChoice> encoder;
        // How long ffmpeg may take for its first output, and how long it may then be silent
        // while the stream's reader waits, before it is killed.
        std::chrono::milliseconds firstOutputLimit { 20000 };
        std::chrono::milliseconds stallLimit { 60000 };
    };

    enum class Refusal {
        None,
        Busy, // every slot is taken: the route answers 503
        Stopping, // the service is stopping
        Failed, // ffmpeg is missing, or failed before its first output (reason says why)
    };
    struct Started
    {
        std::unique_ptr<TranscodeStream> stream; // set when refusal is None
        Refusal refusal = Refusal::None;
        std::string reason;
    };

    Transcoder();
    explicit Transcoder(Options options);
    // Stops every stream; streams still held end at once.
    ~Transcoder();
    Transcoder(const Transcoder &) = delete;
    Transcoder &operator=(const Transcoder &) = delete;

    // Starts ffmpeg for a Remux or Transcode and returns once its first output is there, so the
    // route knows the stream works before it sends a header. A start beyond maxStreams() is
    // refused, not queued. Where VA-API fails before any output, the stream is encoded with
    // libx264 instead.
    Started start(const std::string &path, const StreamFacts &facts, Delivery delivery,
                  int64_t startMs);

    // Kills every running ffmpeg and refuses further starts: for the service's stop.
    void stopAll();

    // Waits for the detection at start when it is still running.
    EncoderChoice encoder() const;
    unsigned maxStreams() const { return m_maxStreams; }
    unsigned running() const;

    struct Shared;

private:
    std::unique_ptr<TranscodeStream> launch(const std::string &path, const StreamFacts &facts,
                                            Delivery delivery, int64_t startMs,
                                            const EncoderChoice &encoder, std::string &error);

    Options m_options;
    std::string m_program; // the resolved path; empty when ffmpeg is not installed
    unsigned m_maxStreams = 1;
    std::shared_ptr<Shared> m_shared;
};

// One running ffmpeg, read by the route. Destroying it kills the child (SIGKILL) if it still
// runs, reaps it and frees its slot: a client that goes away leaves no process behind.
class TranscodeStream
{
public:
    enum class Wait { Data, End, Timeout };

    ~TranscodeStream();
    TranscodeStream(const TranscodeStream &) = delete;
    TranscodeStream &operator=(const TranscodeStream &) = delete;

    // Waits up to timeout for output. Also reads ffmpeg's error output, and kills a child that
    // stays silent for the stall limit while its reader waits (End, failed()).
    Wait wait(std::chrono::milliseconds timeout);
    // Up to size bytes, after waiting up to timeout for them: the count, 0 at the end of the
    // stream, -1 when nothing came within the timeout (call again).
    ssize_t read(char *buffer, size_t size, std::chrono::milliseconds timeout);

    // The pipe's non-blocking read end, for a route that splices it to the socket: call wait()
    // before each splice; a splice that returns 0 is the end of the stream (call wait() once
    // more so the child is reaped and failed() is set).
    int fd() const { return m_out; }

    // After the end: whether the stream stopped short (ffmpeg failed, was stalled, or the
    // service stopped), and why. A route that has sent its header ends such a reply without
    // its last chunk, so the player sees it cut off.
    bool ended() const { return m_ended; }
    bool failed() const { return m_failed; }
    const std::string &error() const { return m_error; }

    Delivery delivery() const { return m_delivery; }
    Encoder encoder() const { return m_encoder; }
    pid_t pid() const { return m_pid; }

private:
    friend class Transcoder;
    struct Slot;

    TranscodeStream(std::shared_ptr<Transcoder::Shared> shared, pid_t pid, int out, int err,
                    std::string path, Delivery delivery, Encoder encoder, bool fromStart,
                    std::chrono::milliseconds stallLimit);
    void readErrors();
    void finish(const std::string &reason);
    void reap();

    std::shared_ptr<Transcoder::Shared> m_shared;
    std::unique_ptr<Slot> m_slot;
    pid_t m_pid;
    int m_out;
    int m_err;
    std::string m_path;
    Delivery m_delivery;
    Encoder m_encoder;
    bool m_fromStart;
    bool m_logFailure = true;
    std::chrono::milliseconds m_stallLimit;
    std::optional<std::chrono::steady_clock::time_point> m_idleSince;
    std::string m_errors; // the start of ffmpeg's error output
    bool m_reaped = false;
    int m_status = 0;
    bool m_ended = false;
    bool m_failed = false;
    std::string m_error;
};

} // namespace svc
