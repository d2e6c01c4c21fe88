// The settings file as the store reads it: any bytes as ORUconfig.xml, opened
// under a model's key and read value by value the way a camera loads them,
// then changed and written out again (to memory, not to the disk).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tinyxml.h>

#include "settings/XmlStore.h"

namespace {

constexpr char kFile[] = "ORUconfig.xml";
constexpr char kKey[] = "software\\ORU6200MC Pro";
// clang-format off
constexpr const char *kNames[] = {
    "Exposure", "Gain", "Brightness", "Fclk", "FPSPercentageUSB3", "FPSPercentageUSB2",
    "CoolPowerPctg", "TargetTemp", "OverCLKPerc", "Pattern", "AutoGainMax", "DestBrightness",
    "WB_Red", "WB_Blue", "AutoExpMaxMs", "AutoExpMax", "LibusbLogLever", "AutoBL", "OO", "EE",
    "OE", "EO", "FlipRow", "FlipColumn", "AutoFPS", "AutoExp", "AutoGain", "AutoWB", "RawOutput",
    "HighSpeed", "HPC", "HardwareBin", "CutDark", "DebugPrint", "BMPPATH"};
// clang-format on
constexpr int kCapacities[] = {1, 4, 255};

std::string g_path;

void ReadEveryValue(xmlHandle key)
{
    unsigned char value[256];
    for (const char *name : kNames)
        for (int capacity : kCapacities) {
            int size = capacity;
            int type = 0;
            int attr = 0;
            XMLQueryValueEx(key, name, &attr, &type, value, &size);
        }
}

// Sets a value (which removes damaged ones) and prints the document.
void ChangeAndPrint(xmlHandle key)
{
    unsigned char gain[4] = {0x2A, 0, 0, 0};
    XMLSetValueEx(key, "Gain", nullptr, 4, gain, sizeof gain);
    char *text = nullptr;
    size_t length = 0;
    if (FILE *memory = open_memstream(&text, &length)) {
        key.doc->SaveFile(memory);
        std::fclose(memory);
    }
    std::free(text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static char home[] = "/tmp/oru-fuzz-home-XXXXXX";
    if (mkdtemp(home) == nullptr)
        std::abort();
    setenv("HOME", home, 1);
    char folder[kXmlPathSize];
    if (!initConfigSaveDir(folder))
        std::abort();
    g_path = std::string(folder) + kFile;
    std::atexit([] {
        unlink(g_path.c_str());
        std::string folder = g_path.substr(0, g_path.rfind('/'));
        rmdir(folder.c_str());
        rmdir(folder.substr(0, folder.rfind('/')).c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    close(fd);

    xmlHandle key{};
    if (XMLOpenKey(kFile, kKey, &key)) {
        ReadEveryValue(key);
        ChangeAndPrint(key);
        delete key.doc;
    }
    if (XMLCreateKey(kFile, kKey, &key, nullptr)) {
        ChangeAndPrint(key);
        delete key.doc;
    }
    return 0;
}
