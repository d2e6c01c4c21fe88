// Streams video from the first camera and prints, once a second, the frames
// per second and MiB/s delivered and the frames the library dropped.
//
//   stream_video [WIDTH HEIGHT [BIN [TYPE [SECONDS [EXPOSURE_US [HIGH_SPEED]]]]]]
//
// TYPE is raw8, rgb24, raw16 or y8; a WIDTH of 0 takes the full sensor;
// HIGH_SPEED 1 switches the camera's high-speed mode on, 0 off (left as
// stored when not given). Defaults: 640 480 1 raw8 5 1000. Under the simulator:
//   oru-sim --camera oru6200mc-pro -- build/examples/stream_video 1920 1080
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ORUCamera.h"

namespace {

struct Options {
    int width = 640;
    int height = 480;
    int bin = 1;
    ORU_IMG_TYPE type = ORU_IMG_RAW8;
    int seconds = 5;
    int exposureUs = 1000;
    int highSpeed = -1; // -1: as stored
};

int BytesPerPixel(ORU_IMG_TYPE type)
{
    return type == ORU_IMG_RGB24 ? 3 : type == ORU_IMG_RAW16 ? 2 : 1;
}

bool ParseType(const char *text, ORU_IMG_TYPE *type)
{
    static const struct {
        const char *name;
        ORU_IMG_TYPE type;
    } kTypes[] = {{"raw8", ORU_IMG_RAW8},
                  {"rgb24", ORU_IMG_RGB24},
                  {"raw16", ORU_IMG_RAW16},
                  {"y8", ORU_IMG_Y8}};
    for (const auto &entry : kTypes) {
        if (std::strcmp(text, entry.name) == 0) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

bool ParseNumber(const char *text, int min, int *value)
{
    char *end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < min || number > 1000000000)
        return false;
    *value = static_cast<int>(number);
    return true;
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    if (argc == 2 || argc > 8)
        return false;
    if (argc >= 3 &&
        (!ParseNumber(argv[1], 0, &options->width) || !ParseNumber(argv[2], 0, &options->height)))
        return false;
    if (argc >= 4 && !ParseNumber(argv[3], 1, &options->bin))
        return false;
    if (argc >= 5 && !ParseType(argv[4], &options->type))
        return false;
    if (argc >= 6 && !ParseNumber(argv[5], 1, &options->seconds))
        return false;
    if (argc >= 7 && !ParseNumber(argv[6], 1, &options->exposureUs))
        return false;
    return argc < 8 || (ParseNumber(argv[7], 0, &options->highSpeed) && options->highSpeed <= 1);
}

bool Check(ORU_ERROR_CODE result, const char *what)
{
    if (result != ORU_SUCCESS)
        std::fprintf(stderr, "%s failed: error %d\n", what, static_cast<int>(result));
    return result == ORU_SUCCESS;
}

int Stream(int id, const Options &options)
{
    ORU_CAMERA_INFO info{};
    if (!Check(ORUGetCameraPropertyByID(id, &info), "ORUGetCameraPropertyByID"))
        return 1;
    const int width = options.width > 0 ? options.width : info.max_width / options.bin;
    const int height = options.height > 0 ? options.height : info.max_height / options.bin;
    if (!Check(ORUSetROIFormat(id, width, height, options.bin, options.type), "ORUSetROIFormat") ||
        !Check(ORUSetControlValue(id, ORU_EXPOSURE, options.exposureUs, ORU_FALSE),
               "ORUSetControlValue"))
        return 1;
    if (options.highSpeed >= 0 &&
        !Check(ORUSetControlValue(id, ORU_HIGH_SPEED_MODE, options.highSpeed, ORU_FALSE),
               "ORUSetControlValue"))
        return 1;
    std::printf("%s: %d x %d bin %d, %d bytes per pixel, exposure %d us\n", info.name, width,
                height, options.bin, BytesPerPixel(options.type), options.exposureUs);

    const int32_t frameBytes = width * height * BytesPerPixel(options.type);
    std::vector<unsigned char> frame(static_cast<size_t>(frameBytes));
    if (!Check(ORUStartVideoCapture(id), "ORUStartVideoCapture"))
        return 1;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(options.seconds);
    Clock::time_point lineStart = start;
    long framesTotal = 0;
    long framesInLine = 0;
    int dropped = 0;
    while (Clock::now() < end) {
        if (ORUGetVideoData(id, frame.data(), frameBytes, 500) == ORU_SUCCESS) {
            ++framesTotal;
            ++framesInLine;
        }
        const Clock::time_point now = Clock::now();
        const double lineSeconds = std::chrono::duration<double>(now - lineStart).count();
        if (lineSeconds >= 1.0) {
            ORUGetDroppedFrames(id, &dropped);
            std::printf("Frame rate = %.1f Hz   Bandwidth = %.1f MiB/s   Dropped = %d\n",
                        framesInLine / lineSeconds,
                        framesInLine * static_cast<double>(frameBytes) / lineSeconds / 1048576.0,
                        dropped);
            std::fflush(stdout);
            framesInLine = 0;
            lineStart = now;
        }
    }
    // The count is cleared when the capture stops, so read it first.
    ORUGetDroppedFrames(id, &dropped);
    ORUStopVideoCapture(id);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld frames in %.1f s: %.1f Hz, %.1f MiB/s, %d dropped\n", framesTotal, seconds,
                framesTotal / seconds,
                framesTotal * static_cast<double>(frameBytes) / seconds / 1048576.0, dropped);
    return framesTotal > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: %s [WIDTH HEIGHT [BIN [raw8|rgb24|raw16|y8 [SECONDS [EXPOSURE_US "
                     "[HIGH_SPEED]]]]]]\n",
                     argv[0]);
        return 2;
    }
    if (ORUGetNumOfConnectedCameras() < 1) {
        std::fprintf(stderr, "no camera connected\n");
        return 1;
    }
    ORU_CAMERA_INFO info{};
    if (!Check(ORUGetCameraProperty(&info, 0), "ORUGetCameraProperty"))
        return 1;
    const int id = info.camera_id;
    if (!Check(ORUOpenCamera(id), "ORUOpenCamera"))
        return 1;
    int result = 1;
    if (Check(ORUInitCamera(id), "ORUInitCamera"))
        result = Stream(id, options);
    ORUCloseCamera(id);
    return result;
}
