// bench_service_import [--files N] [--threads N]
//
// Makes one clip with the ffmpeg command, hard-links it N times (500 by default) into a
// temporary folder and times, in the same run:
//   metadata: the importer without covers   against avformat_open_input + find_stream_info per file
//             (and, stricter, avformat_open_input alone)
//   covers:   the importer with covers      against ffmpegthumbnailer per file
// The importer runs in-process on its worker pool (as many threads as cores unless --threads);
// the loops are single-threaded, as a simple tool would be.
#include "service/database.h"
#include "service/importer.h"
#include "service/library.h"
#include "service/log.h"
#include "service/mediaprobe.h"
#include "service/workerpool.h"

extern "C" {
#include <libavformat/avformat.h>
}
#include <libffmpegthumbnailer/videothumbnailer.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// With streamInfo false only the container header is read: the cheapest probe there is.
double probeLoop(const std::vector<std::string> &files, bool streamInfo)
{
    const auto start = Clock::now();
    for (const std::string &file : files) {
        AVFormatContext *context = nullptr;
        if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) == 0) {
            if (streamInfo)
                avformat_find_stream_info(context, nullptr);
            avformat_close_input(&context);
        }
    }
    return secondsSince(start);
}

double thumbnailLoop(const std::vector<std::string> &files)
{
    const auto start = Clock::now();
    for (const std::string &file : files) {
        ffmpegthumbnailer::VideoThumbnailer thumbnailer(320, false, true, 8, false);
        thumbnailer.setSeekPercentage(10);
        std::vector<uint8_t> jpeg;
        try {
            thumbnailer.generateThumbnail(file, ThumbnailerImageType::Jpeg, jpeg);
        } catch (const std::exception &) {
        }
    }
    return secondsSince(start);
}

double importOnce(const fs::path &work, const std::string &folder, size_t threads, bool covers,
                  int &indexed)
{
    const fs::path data = work / (covers ? "db-covers" : "db-metadata");
    fs::remove_all(data);
    fs::create_directories(data);
    svc::Database database((data / "library.db").string());
    svc::Library library(database);
    svc::WorkerPool pool(threads);
    svc::Importer importer(library, pool, data.string(), covers);
    std::atomic<bool> cancel { false };
    svc::ImportRequest request;
    request.path = folder;
    const auto start = Clock::now();
    const svc::ImportOutcome outcome = importer.run(request, cancel);
    const double seconds = secondsSince(start);
    indexed = outcome.successCount;
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    size_t count = 500;
    size_t threads = std::max(1u, std::thread::hardware_concurrency());
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--files")
            count = std::strtoul(argv[i + 1], nullptr, 10);
        else if (name == "--threads")
            threads = std::strtoul(argv[i + 1], nullptr, 10);
    }
    svc::quietMediaLibraries();
    svc::setLogFolder(std::string());

    const fs::path work = fs::temp_directory_path() / ("bench-service-" + std::to_string(getpid()));
    fs::create_directories(work / "clips");
    const std::string source = (work / "source.mp4").string();
    const std::string make
        = "ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=25:duration=2 "
          "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p "
        + source;
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
        const fs::path target = work / "clips" / ("part" + std::to_string(i % 5))
            / ("clip" + std::to_string(i) + ".mp4");
        fs::create_directories(target.parent_path());
        fs::create_hard_link(source, target);
        files.push_back(target.string());
    }
    const std::string folder = (work / "clips").string();
    std::printf("%zu clips (H.264 1280x720, 2 s), importer on %zu threads\n", count, threads);

    int indexed = 0;
    const double loopProbe = probeLoop(files, true);
    const double loopHeaders = probeLoop(files, false);
    const double ourMetadata = importOnce(work, folder, threads, false, indexed);
    std::printf("metadata: importer %.0f files/s (%d indexed), probe loop %.0f files/s, "
                "ratio %.2f (target >= 0.70)\n",
                count / ourMetadata, indexed, count / loopProbe, loopProbe / ourMetadata);
    std::printf("          header-only loop %.0f files/s, ratio %.2f\n", count / loopHeaders,
                loopHeaders / ourMetadata);
    const double ourMetadataOne = importOnce(work, folder, 1, false, indexed);
    std::printf("          importer on one thread %.0f files/s, ratio to probe loop %.2f, to "
                "header-only loop %.2f\n",
                count / ourMetadataOne, loopProbe / ourMetadataOne, loopHeaders / ourMetadataOne);

    const double loopThumbs = thumbnailLoop(files);
    const double ourCovers = importOnce(work, folder, threads, true, indexed);
    std::printf("covers:   importer %.2f ms/file (%d indexed), thumbnailer loop %.2f ms/file, "
                "ratio %.2f (target <= 1.20)\n",
                1000 * ourCovers / count, indexed, 1000 * loopThumbs / count,
                ourCovers / loopThumbs);
    const double oneThread = importOnce(work, folder, 1, true, indexed);
    std::printf("covers on one thread: importer %.2f ms/file, ratio %.2f\n",
                1000 * oneThread / count, oneThread / loopThumbs);

    fs::remove_all(work);
    return 0;
}
