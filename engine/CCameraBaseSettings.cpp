// Per-model settings of the camera object, kept under "software\<short name>"
// in ORUconfig.xml: saved when video capture stops or a camera closes after a
// snap, loaded when a camera of the model is set up.
#include "engine/CCameraBase.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "log/DbgPrint.h"
#include "settings/XmlStore.h"

namespace {

constexpr char kConfigFile[] = "ORUconfig.xml";
constexpr int kTypeInt = 4;
constexpr int kTypeBytes = 3;
constexpr uint64_t kLoadedExposureMaxUs = 100000;
constexpr int kBMPPathCapacity = 255;

enum SavedOn { ON_ANY_HOST, ON_USB3_HOST, ON_USB2_HOST };

// Each load and save reads or rewrites the whole settings file, one at a time
// in this process: two cameras saving together would otherwise both start
// from the file as it was, and the later rename would drop the other's save.
struct SettingsFileLock {
    SettingsFileLock() { InitializeCriticalSection(&section); }
    S_MUTEX_UNIX section;
} g_settingsFile;

// One stored value: its name and type, how it is read from and written to
// the camera's settings, and the rules that apply to it alone.
struct SettingRow {
    const char *szName;
    int iType;     // kTypeInt: 4 bytes; kTypeBytes: 1 byte
    int iLoadSize; // bytes accepted on load
    int64_t (*get)(const CameraSettings &);
    void (*set)(CameraSettings &, int64_t);
    SavedOn savedOn;
    bool bZeroWhenMissing;
    const char *szOldName; // read instead when the value is missing
    int iOldScale;         // the old value times this
};

template <typename T>
struct ValueOf {
    using type = T;
};
template <typename T>
struct ValueOf<std::atomic<T>> {
    using type = T;
};

template <auto Member>
int64_t GetMember(const CameraSettings &camera)
{
    using Field = std::remove_cv_t<std::remove_reference_t<decltype(camera.*Member)>>;
    return static_cast<int64_t>(static_cast<typename ValueOf<Field>::type>(camera.*Member));
}

template <auto Member>
void SetMember(CameraSettings &camera, int64_t value)
{
    using Field = std::remove_reference_t<decltype(camera.*Member)>;
    camera.*Member = static_cast<typename ValueOf<Field>::type>(value);
}

// A member stored as it is: 4 bytes for kTypeInt, 1 byte for kTypeBytes.
template <auto Member>
constexpr SettingRow Plain(const char *name, int type)
{
    return SettingRow{name,
                      type,
                      type == kTypeInt ? 4 : 1,
                      &GetMember<Member>,
                      &SetMember<Member>,
                      ON_ANY_HOST,
                      false,
                      nullptr,
                      0};
}

// In save order.
const SettingRow kSettings[] = {
    {"Exposure", kTypeInt, 8,
     // Only the low 32 bits are kept; a long exposure comes back as 100 ms.
     [](const CameraSettings &c) -> int64_t { return static_cast<uint32_t>(c.m_lExposure.load()); },
     [](CameraSettings &c, int64_t v) {
         const uint64_t us = static_cast<uint64_t>(v);
         c.m_lExposure = us > kLoadedExposureMaxUs ? kLoadedExposureMaxUs : us;
     },
     ON_ANY_HOST, false, nullptr, 0},
    Plain<&CameraSettings::m_iGain>("Gain", kTypeInt),
    Plain<&CameraSettings::m_iOffset>("Brightness", kTypeInt),
    Plain<&CameraSettings::m_iCMOSClk>("Fclk", kTypeInt),
    {"FPSPercentageUSB3", kTypeInt, 4,
     [](const CameraSettings &c) -> int64_t { return c.m_iBandwidth; },
     [](CameraSettings &c, int64_t v) { c.m_iBandwidthUSB3 = static_cast<int32_t>(v); },
     ON_USB3_HOST, false, nullptr, 0},
    {"FPSPercentageUSB2", kTypeInt, 4,
     [](const CameraSettings &c) -> int64_t { return c.m_iBandwidth; },
     [](CameraSettings &c, int64_t v) { c.m_iBandwidth = static_cast<int32_t>(v); }, ON_USB2_HOST,
     false, nullptr, 0},
    {"CoolPowerPctg", kTypeInt, 4,
     [](const CameraSettings &c) -> int64_t { return static_cast<int32_t>(c.m_fCoolPowerPerc); },
     [](CameraSettings &c, int64_t v) {
         c.m_fCoolPowerPerc = static_cast<float>(static_cast<int32_t>(v));
     },
     ON_ANY_HOST, true, nullptr, 0},
    Plain<&CameraSettings::m_iTargetTemp>("TargetTemp", kTypeInt),
    Plain<&CameraSettings::m_iOverCLKPerc>("OverCLKPerc", kTypeInt),
    Plain<&CameraSettings::m_iPattern>("Pattern", kTypeInt),
    Plain<&CameraSettings::m_iLibusbLogLevel>("LibusbLogLever", kTypeBytes),
    Plain<&CameraSettings::m_bAutoBL>("AutoBL", kTypeBytes),
    Plain<&CameraSettings::m_ucOO>("OO", kTypeBytes),
    Plain<&CameraSettings::m_ucEE>("EE", kTypeBytes),
    Plain<&CameraSettings::m_ucOE>("OE", kTypeBytes),
    Plain<&CameraSettings::m_ucEO>("EO", kTypeBytes),
    {"DebugPrint", kTypeBytes, 1,
     [](const CameraSettings &c) -> int64_t { return c.m_bDebugPrint ? 1 : 0; },
     [](CameraSettings &c, int64_t v) {
         c.m_bDebugPrint = v != 0;
         // The stored switch can turn the log on, never off.
         if (c.m_bDebugPrint)
             g_bDebugPrint = true;
     },
     ON_ANY_HOST, false, nullptr, 0},
    Plain<&CameraSettings::m_iAutoMaxGain>("AutoGainMax", kTypeInt),
    {"AutoExpMaxMs", kTypeInt, 4,
     [](const CameraSettings &c) -> int64_t { return c.m_iAutoMaxExpMs; },
     [](CameraSettings &c, int64_t v) { c.m_iAutoMaxExpMs = static_cast<int32_t>(v); }, ON_ANY_HOST,
     false, "AutoExpMax", 1000},
    Plain<&CameraSettings::m_iAutoTargetBrightness>("DestBrightness", kTypeInt),
    Plain<&CameraSettings::m_bFlipHoriz>("FlipRow", kTypeBytes),
    Plain<&CameraSettings::m_bFlipVert>("FlipColumn", kTypeBytes),
    Plain<&CameraSettings::m_iWB_R>("WB_Red", kTypeInt),
    Plain<&CameraSettings::m_iWB_B>("WB_Blue", kTypeInt),
    Plain<&CameraSettings::m_bAutoExp>("AutoExp", kTypeBytes),
    Plain<&CameraSettings::m_bAutoGain>("AutoGain", kTypeBytes),
    Plain<&CameraSettings::m_bAutoBandwidth>("AutoFPS", kTypeBytes),
    Plain<&CameraSettings::m_bRawOutput>("RawOutput", kTypeBytes),
    Plain<&CameraSettings::m_bHighSpeed>("HighSpeed", kTypeBytes),
    Plain<&CameraSettings::m_bAutoWB>("AutoWB", kTypeBytes),
    Plain<&CameraSettings::m_bHPC>("HPC", kTypeBytes),
    Plain<&CameraSettings::m_bHardwareBin>("HardwareBin", kTypeBytes),
    Plain<&CameraSettings::m_bCutDark>("CutDark", kTypeBytes),
};

bool SavedOnThisHost(SavedOn savedOn, bool usb3Host)
{
    return savedOn == ON_ANY_HOST || (savedOn == ON_USB3_HOST) == usb3Host;
}

void SaveValue(xmlHandle key, const SettingRow &row, int64_t value)
{
    const int size = row.iType == kTypeInt ? 4 : 1;
    unsigned char bytes[4];
    // Memory order of a little-endian 32-bit integer.
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
    XMLSetValueEx(key, row.szName, nullptr, row.iType, bytes, size);
}

// Reads a little-endian value of at most capacity bytes. Every read gets the
// room of its own destination, so a stored value longer than its member
// cannot spill into the next one.
bool LoadValue(xmlHandle key, const char *name, int capacity, int64_t *value)
{
    unsigned char bytes[8] = {};
    int type = 0;
    int size = capacity;
    if (!XMLQueryValueEx(key, name, nullptr, &type, bytes, &size))
        return false;
    uint64_t result = 0;
    for (int i = 0; i < capacity; ++i)
        result |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    *value = static_cast<int64_t>(result);
    return true;
}

} // namespace

void CCameraBase::InitSubKey()
{
    if (m_SubKey.empty())
        m_SubKey = std::string("software\\") + (m_Model.m_szModelKey ? m_Model.m_szModelKey : "");
}

void CCameraBase::SaveSetting()
{
    InitSubKey();
    SectionLock fileLock(g_settingsFile.section);
    xmlHandle key{nullptr, nullptr};
    if (!XMLOpenKey(kConfigFile, m_SubKey.c_str(), &key) &&
        !XMLCreateKey(kConfigFile, m_SubKey.c_str(), &key, nullptr))
        return;
    for (const SettingRow &row : kSettings)
        if (SavedOnThisHost(row.savedOn, m_bUSB3Host))
            SaveValue(key, row, row.get(*this));
    const int pathLength = static_cast<int>(strnlen(m_szBMPPath, sizeof m_szBMPPath - 1));
    if (pathLength > 0)
        XMLSetValueEx(key, "BMPPATH", nullptr, kTypeBytes,
                      reinterpret_cast<unsigned char *>(m_szBMPPath), pathLength);
    XMLCloseKey(&key);
    DbgPrint2(LogSeverity::Info, "SaveSetting", "save REG\n");
}

void CCameraBase::LoadSetting()
{
    InitSubKey();
    // The file alone; the dark frame it names is read after letting it go.
    {
        SectionLock fileLock(g_settingsFile.section);
        xmlHandle key{nullptr, nullptr};
        if (!XMLOpenKey(kConfigFile, m_SubKey.c_str(), &key))
            return;
        for (const SettingRow &row : kSettings) {
            int64_t value = 0;
            if (LoadValue(key, row.szName, row.iLoadSize, &value))
                row.set(*this, value);
            else if (row.szOldName != nullptr &&
                     LoadValue(key, row.szOldName, row.iLoadSize, &value))
                row.set(*this, value * row.iOldScale);
            else if (row.bZeroWhenMissing)
                row.set(*this, 0);
        }
        char path[sizeof m_szBMPPath] = {};
        int size = kBMPPathCapacity;
        int type = 0;
        if (XMLQueryValueEx(key, "BMPPATH", nullptr, &type, reinterpret_cast<unsigned char *>(path),
                            &size))
            memcpy(m_szBMPPath, path, sizeof m_szBMPPath);
        XMLCloseKey(&key);
    }
    DbgPrint2(LogSeverity::Info, "LoadSetting", "LoadSetting\n");

    if (m_bCutDark) {
        m_iBin = 1;
        m_iWidth = m_Model.m_iMaxWidth;
        m_iHeight = m_Model.m_iMaxHeight;
        LoadBMPFromFile(m_szBMPPath);
    }
}
