/*
 * The library never writes to standard output, which belongs to the program
 * using it (an INDI driver speaks its protocol there). This program takes a
 * camera through open, initialisation, a dark frame, a snap, video and close
 * with the debug log on, with its own standard output and standard error
 * going to files, and then checks them.
 *
 *   stdout_silence file    the log folder can be made: its set-up texts go
 *                          into the log file
 *   stdout_silence stderr  HOME cannot hold the log: they go to standard error
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ORUCamera.h"

static int failures = 0;

static void check(int ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "stdout_silence: %s\n", what);
        ++failures;
    }
}

static long read_all(int fd, char *text, size_t size)
{
    lseek(fd, 0, SEEK_SET);
    long total = 0;
    ssize_t got;
    while (total < (long)size - 1 && (got = read(fd, text + total, size - 1 - (size_t)total)) > 0)
        total += got;
    text[total] = '\0';
    return total;
}

static int capture(int stream_fd, const char *name)
{
    char path[] = "/tmp/stdout-silence-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || dup2(fd, stream_fd) < 0) {
        perror(name);
        exit(2);
    }
    unlink(path);
    return fd;
}

static void exercise_camera(void)
{
    check(ORUGetNumOfConnectedCameras() == 1, "one camera expected");
    ORU_CAMERA_INFO info;
    check(ORUGetCameraProperty(&info, 0) == ORU_SUCCESS, "ORUGetCameraProperty");
    const int id = info.camera_id;
    check(ORUOpenCamera(id) == ORU_SUCCESS, "ORUOpenCamera");
    check(ORUEnableDebugLog(id, ORU_TRUE) == ORU_SUCCESS, "ORUEnableDebugLog");
    check(ORUInitCamera(id) == ORU_SUCCESS, "ORUInitCamera");
    check(ORUSetROIFormat(id, 640, 480, 1, ORU_IMG_RAW8) == ORU_SUCCESS, "ORUSetROIFormat");
    check(ORUSetControlValue(id, ORU_EXPOSURE, 1000, ORU_FALSE) == ORU_SUCCESS,
          "ORUSetControlValue");

    /* A bitmap header of the wrong size: read far enough to be refused. */
    char bitmap[] = "/tmp/stdout-silence-dark-XXXXXX";
    int bitmap_fd = mkstemp(bitmap);
    unsigned char header[54] = {'B', 'M'};
    check(bitmap_fd >= 0 && write(bitmap_fd, header, sizeof header) == (ssize_t)sizeof header,
          "dark bitmap");
    close(bitmap_fd);
    check(ORUEnableDarkSubtract(id, bitmap) == ORU_ERROR_INVALID_FILEFORMAT,
          "ORUEnableDarkSubtract");
    unlink(bitmap);

    static unsigned char frame[640 * 480];
    check(ORUStartExposure(id, ORU_FALSE) == ORU_SUCCESS, "ORUStartExposure");
    ORU_EXPOSURE_STATUS status = ORU_EXP_WORKING;
    for (int i = 0; i < 500 && status == ORU_EXP_WORKING; ++i) {
        usleep(10000);
        ORUGetExpStatus(id, &status);
    }
    check(status == ORU_EXP_SUCCESS, "snap");
    check(ORUGetDataAfterExp(id, frame, sizeof frame) == ORU_SUCCESS, "ORUGetDataAfterExp");

    check(ORUStartVideoCapture(id) == ORU_SUCCESS, "ORUStartVideoCapture");
    check(ORUGetVideoData(id, frame, sizeof frame, 2000) == ORU_SUCCESS, "ORUGetVideoData");
    check(ORUStopVideoCapture(id) == ORU_SUCCESS, "ORUStopVideoCapture");
    check(ORUCloseCamera(id) == ORU_SUCCESS, "ORUCloseCamera");
}

int main(int argc, char **argv)
{
    if (argc != 2 || (strcmp(argv[1], "file") != 0 && strcmp(argv[1], "stderr") != 0)) {
        fprintf(stderr, "usage: stdout_silence file|stderr\n");
        return 2;
    }
    const int to_file = strcmp(argv[1], "file") == 0;
    const int real_stderr = dup(STDERR_FILENO);
    const int out_fd = capture(STDOUT_FILENO, "stdout");
    const int err_fd = capture(STDERR_FILENO, "stderr");

    exercise_camera();
    fflush(stdout);
    fflush(stderr);
    dup2(real_stderr, STDERR_FILENO);

    static char text[1 << 20];
    if (read_all(out_fd, text, sizeof text) != 0) {
        fprintf(stderr, "stdout_silence: standard output got:\n%.2000s\n", text);
        ++failures;
    }
    read_all(err_fd, text, sizeof text);
    const int on_stderr = strstr(text, "constructor called!") != NULL;
    if (to_file) {
        char log[4096];
        snprintf(log, sizeof log, "%s/.TAV/orucamerasdk/orucamerasdk.log", getenv("HOME"));
        FILE *file = fopen(log, "r");
        size_t got = file ? fread(text, 1, sizeof text - 1, file) : 0;
        text[got] = '\0';
        if (file)
            fclose(file);
        check(strstr(text, "constructor called!") != NULL,
              "the log file lacks \"constructor called!\"");
        check(strstr(text, "the log file path is : ") != NULL, "the log file lacks its path");
        check(strstr(text, "bmpheader size=14") != NULL,
              "the log file lacks \"bmpheader size=14\"");
        check(!on_stderr, "the set-up texts went to standard error although the log file was open");
    } else {
        check(on_stderr, "without a log file the set-up texts belong on standard error");
    }
    if (failures == 0)
        fprintf(stderr, "stdout_silence: ok\n");
    return failures == 0 ? 0 : 1;
}
