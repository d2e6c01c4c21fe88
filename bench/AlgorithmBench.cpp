// Times the image-processing routines on one core against OpenCV doing the
// same job, with memcpy of the same bytes as the floor. Prints the best of 15
// runs in milliseconds and the ratio to OpenCV (below 1: faster).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "algorithm/CAlgorithm.h"

namespace {

const int REPEATS = 15;

double TimeMs(const std::function<void()> &job)
{
    auto start = std::chrono::steady_clock::now();
    job();
    auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(stop - start).count();
}

// Times ours, OpenCV's job and memcpy of floorBytes in turn, REPEATS times
// after one warm-up round, and prints the best time of each: the three see the
// same machine load. prepare runs untimed before ours (in-place jobs).
void Compare(const std::string &routine, const std::string &peer, int width, int height,
             const std::function<void()> &ours, const std::function<void()> &opencv,
             size_t floorBytes, const std::function<void()> &prepare = {})
{
    static std::vector<uint8_t> from, to;
    from.resize(floorBytes);
    to.resize(floorBytes);
    double best[3] = {1e30, 1e30, 1e30};
    for (int i = 0; i <= REPEATS; ++i) {
        if (prepare)
            prepare();
        const double times[3] = {TimeMs(ours), TimeMs(opencv),
                                 TimeMs([&] { memcpy(to.data(), from.data(), floorBytes); })};
        for (int k = 0; i > 0 && k < 3; ++k)
            best[k] = std::min(best[k], times[k]);
    }
    printf("%-26s %-24s %4d x %-4d %8.3f %9.3f %7.2f %9.3f\n", routine.c_str(), peer.c_str(), width,
           height, best[0], best[1], best[0] / best[1], best[2]);
    fflush(stdout);
}

std::vector<uint8_t> RandomBytes(size_t count)
{
    std::mt19937 generator(12345);
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; i += 4) {
        uint32_t word = generator();
        memcpy(&bytes[i], &word, std::min<size_t>(4, count - i));
    }
    return bytes;
}

void BenchSize(int width, int height)
{
    const size_t pixels = size_t(width) * height;
    CAlgorithm algorithm;
    algorithm.RGBYUV_Init();
    algorithm.SetBayer(ORU_BAYER_RG);

    std::vector<uint8_t> raw = RandomBytes(pixels), out(pixels * 3);
    cv::Mat rawMat(height, width, CV_8UC1, raw.data());
    cv::Mat outMat;

    for (int balanced = 0; balanced < 2; ++balanced) {
        algorithm.SetRGBWB(balanced ? 95 : 50, balanced ? 52 : 50);
        const std::string suffix = balanced ? " wb 95/52" : "";
        Compare(
            "BayerConv RGB24" + suffix, "cvtColor BayerRGGB2BGR", width, height,
            [&] {
                algorithm.BayerConv(raw.data(), out.data(), width, height, IMAGE_TYPE_RGB24, false,
                                    false);
            },
            [&] { cv::cvtColor(rawMat, outMat, cv::COLOR_BayerRGGB2BGR); }, pixels * 3);
        Compare(
            "BayerConv Y8" + suffix, "cvtColor BayerRGGB2GRAY", width, height,
            [&] {
                algorithm.BayerConv(raw.data(), out.data(), width, height, IMAGE_TYPE_8BIT, false,
                                    false);
            },
            [&] { cv::cvtColor(rawMat, outMat, cv::COLOR_BayerRGGB2GRAY); }, pixels);
    }
    algorithm.SetRGBWB(50, 50);

    for (bool is16 : {false, true}) {
        for (bool colour : {false, true}) {
            for (int bin = 2; bin <= 4; ++bin) {
                const int outWidth = width / bin, outHeight = height / bin;
                const size_t inBytes = size_t(outWidth) * bin * outHeight * bin * (is16 ? 2 : 1);
                std::vector<uint8_t> original = RandomBytes(inBytes), work(inBytes);
                cv::Mat in(outHeight * bin, outWidth * bin, is16 ? CV_16UC1 : CV_8UC1,
                           original.data());
                auto run = colour ? &CAlgorithm::ColorRAWBin : &CAlgorithm::MonoBin;
                char name[64];
                snprintf(name, sizeof name, "%s bin %d %d-bit", colour ? "ColorRAWBin" : "MonoBin",
                         bin, is16 ? 16 : 8);
                Compare(
                    name, "resize INTER_AREA", width, height,
                    [&] {
                        (algorithm.*run)(work.data(), reinterpret_cast<uint16_t *>(work.data()),
                                         outWidth, outHeight, bin, is16);
                    },
                    [&] {
                        cv::resize(in, outMat, cv::Size(outWidth, outHeight), 0, 0, cv::INTER_AREA);
                    },
                    inBytes, [&] { memcpy(work.data(), original.data(), inBytes); });
            }
        }
    }

    Compare(
        "SoftMisc both flips 8-bit", "flip -1", width, height,
        [&] { algorithm.SoftMisc(raw.data(), width, height, false, true, true); },
        [&] { cv::flip(rawMat, outMat, -1); }, pixels);

    std::vector<uint8_t> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(255 - i);
    cv::Mat lut(1, 256, CV_8UC1, table.data());
    Compare(
        "Gamma 8-bit", "LUT", width, height,
        [&] { algorithm.Gamma(raw.data(), table.data(), width, height); },
        [&] { cv::LUT(rawMat, lut, outMat); }, pixels);

    std::vector<uint8_t> dark = RandomBytes(pixels), original = raw;
    for (uint8_t &d : dark)
        d &= 0x1F;
    cv::Mat darkMat(height, width, CV_8UC1, dark.data());
    Compare(
        "SubtractDark", "subtract", width, height,
        [&] { algorithm.SubtractDark(raw.data(), width, height, 12, dark.data()); },
        [&] { cv::subtract(rawMat, darkMat, outMat); }, pixels,
        [&] { memcpy(raw.data(), original.data(), pixels); });
}

} // namespace

int main()
{
    cv::setNumThreads(1);
    printf("%-26s %-24s %-11s %8s %9s %7s %9s\n", "routine", "OpenCV peer", "size", "ours ms",
           "OpenCV ms", "ratio", "memcpy ms");
    BenchSize(6248, 4176);
    BenchSize(1920, 1080);
    return 0;
}
