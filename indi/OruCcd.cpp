#include "OruCcd.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "PixelLayout.h"

namespace oru_indi {

namespace {

constexpr std::chrono::seconds kPresenceCheckPeriod{5};

struct ModeName {
    ORU_CAMERA_MODE mode;
    const char *name;
    const char *label;
};

constexpr ModeName kModeNames[] = {
    {ORU_MODE_NORMAL, "TRIGGER_NONE", "Free running"},
    {ORU_MODE_TRIG_SOFT_EDGE, "TRIGGER_SOFT_EDGE", "Software edge"},
    {ORU_MODE_TRIG_RISE_EDGE, "TRIGGER_RISING_EDGE", "Rising edge"},
    {ORU_MODE_TRIG_FALL_EDGE, "TRIGGER_FALLING_EDGE", "Falling edge"},
    {ORU_MODE_TRIG_SOFT_LEVEL, "TRIGGER_SOFT_LEVEL", "Software level"},
    {ORU_MODE_TRIG_HIGH_LEVEL, "TRIGGER_HIGH_LEVEL", "High level"},
    {ORU_MODE_TRIG_LOW_LEVEL, "TRIGGER_LOW_LEVEL", "Low level"},
};

struct FormatName {
    ORU_IMG_TYPE type;
    const char *name;
    const char *label;
    uint8_t bits;
};

// RAW16 first: what astrophotography wants by default.
constexpr FormatName kFormatNames[] = {
    {ORU_IMG_RAW16, "RAW16", "RAW 16", 16},
    {ORU_IMG_RAW8, "RAW8", "RAW 8", 8},
    {ORU_IMG_RGB24, "RGB24", "RGB 24", 8},
};

// Results that may mean the camera is gone; the others are about the request.
bool MayBeGone(ORU_ERROR_CODE result)
{
    return result == ORU_ERROR_TIMEOUT || result == ORU_ERROR_GENERAL_ERROR;
}

bool IsGone(ORU_ERROR_CODE result)
{
    return result == ORU_ERROR_CAMERA_REMOVED || result == ORU_ERROR_CAMERA_CLOSED ||
           result == ORU_ERROR_ID;
}

} // namespace

OruCcd::OruCcd(const ORU_CAMERA_INFO &info, const std::string &deviceName)
    : m_CameraId(info.camera_id), m_Info(info), m_ModelName(info.name)
{
    setDeviceName(deviceName.c_str());
    setVersion(ORU_INDI_VERSION_MAJOR, ORU_INDI_VERSION_MINOR);
    m_PulseReports[AXIS_RA] = PulseReport{this, AXIS_RA};
    m_PulseReports[AXIS_DE] = PulseReport{this, AXIS_DE};
}

OruCcd::~OruCcd()
{
    releaseCamera();
}

const char *OruCcd::getDefaultName()
{
    return "TAV ORU";
}

bool OruCcd::initProperties()
{
    INDI::CCD::initProperties();

    uint32_t capability = CCD_CAN_ABORT | CCD_CAN_BIN | CCD_CAN_SUBFRAME | CCD_HAS_STREAMING;
    if (m_Info.st4_port)
        capability |= CCD_HAS_ST4_PORT;
    if (m_Info.has_cooler)
        capability |= CCD_HAS_COOLER;
    if (m_Info.is_color)
        capability |= CCD_HAS_BAYER;
    SetCCDCapability(capability);

    bool haveDefault = false;
    for (const FormatName &format : kFormatNames) {
        bool supported = false;
        for (int i = 0; i < 8 && m_Info.supported_image_types[i] != ORU_IMG_END; ++i)
            supported = supported || m_Info.supported_image_types[i] == format.type;
        // RGB only where there is colour to show.
        if (!supported || (format.type == ORU_IMG_RGB24 && !m_Info.is_color))
            continue;
        INDI::CCD::CaptureFormat captureFormat{format.name, format.label, format.bits,
                                               !haveDefault};
        if (!haveDefault)
            m_ImageType = format.type;
        haveDefault = true;
        addCaptureFormat(captureFormat);
        m_FormatTypes.push_back(format.type);
    }

    CoolerSP[0].fill("COOLER_ON", "On", ISS_OFF);
    CoolerSP[1].fill("COOLER_OFF", "Off", ISS_ON);
    CoolerSP.fill(getDeviceName(), "CCD_COOLER", "Cooler", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0,
                  IPS_IDLE);
    CoolerPowerNP[0].fill("CCD_COOLER_VALUE", "Power (%)", "%.f", 0, 100, 1, 0);
    CoolerPowerNP.fill(getDeviceName(), "CCD_COOLER_POWER", "Cooler power", MAIN_CONTROL_TAB, IP_RO,
                       0, IPS_IDLE);
    InfoTP[0].fill("SERIAL_NUMBER", "Serial number", "");
    InfoTP[1].fill("LIBRARY_VERSION", "Library version", ORUGetSDKVersion());
    InfoTP.fill(getDeviceName(), "ORU_INFO", "Camera", INFO_TAB, IP_RO, 0, IPS_IDLE);

    addAuxControls();
    return true;
}

bool OruCcd::updateProperties()
{
    INDI::CCD::updateProperties();
    if (isConnected()) {
        int maxBin = 1;
        for (int i = 0; i < 16 && m_Info.supported_bins[i] != 0; ++i)
            maxBin = std::max(maxBin, static_cast<int>(m_Info.supported_bins[i]));
        SetCCDParams(m_Info.max_width, m_Info.max_height, m_ImageType == ORU_IMG_RAW16 ? 16 : 8,
                     m_Info.pixel_size_um, m_Info.pixel_size_um);
        PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", 1, maxBin, 1, false);
        PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", 1, maxBin, 1, false);
        if (const std::optional<ORU_CONTROL_CAPS> exposure = m_Controls.caps(ORU_EXPOSURE))
            PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE",
                                     exposure->min_value / 1e6, exposure->max_value / 1e6, 1, true);
        applyFrame(0, 0, m_Info.max_width, m_Info.max_height, 1, m_ImageType);

        if (HasCooler()) {
            defineProperty(CoolerSP);
            defineProperty(CoolerPowerNP);
            if (const std::optional<ORU_CONTROL_CAPS> target = m_Controls.caps(ORU_TARGET_TEMP))
                setTemperatureLimits(target->min_value, target->max_value);
            refreshCooler();
        }
        m_Controls.define(*this);
        if (m_Modes.size() > 1)
            defineProperty(TriggerModeSP);
        defineProperty(InfoTP);
        scheduleTimer(getCurrentPollingPeriod());
    } else {
        if (HasCooler()) {
            deleteProperty(CoolerSP.getName());
            deleteProperty(CoolerPowerNP.getName());
        }
        m_Controls.remove(*this);
        if (m_Modes.size() > 1)
            deleteProperty(TriggerModeSP.getName());
        deleteProperty(InfoTP.getName());
    }
    return true;
}

bool OruCcd::ISNewNumber(const char *dev, const char *name, double values[], char *names[], int n)
{
    if (dev && std::strcmp(dev, getDeviceName()) == 0 && m_Open) {
        if (m_Controls.handleNumber(name, values, names, n)) {
            checkFailure(m_Controls.takeError(), "Setting a control");
            return true;
        }
        const bool handled = INDI::CCD::ISNewNumber(dev, name, values, names, n);
        // The base class shows the frame the client asked for; show the one
        // the camera applied (aligned to its steps).
        if (std::strcmp(name, "CCD_FRAME") == 0 || std::strcmp(name, "CCD_BINNING") == 0)
            PrimaryCCD.setFrame(PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(),
                                PrimaryCCD.getSubH());
        // The stream's exposure applies at once to a running stream.
        if (m_Reader && std::strcmp(name, "STREAMING_EXPOSURE") == 0) {
            const long us = std::lround(Streamer->getTargetExposure() * 1e6);
            checkFailure(ORUSetControlValue(m_CameraId, ORU_EXPOSURE, us, ORU_FALSE),
                         "Setting the exposure");
            if (m_Reader)
                m_Reader->setExposure(std::chrono::microseconds(us));
        }
        return handled;
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool OruCcd::ISNewSwitch(const char *dev, const char *name, ISState *states, char *names[], int n)
{
    if (dev && std::strcmp(dev, getDeviceName()) == 0 && m_Open) {
        if (HasCooler() && CoolerSP.isNameMatch(name)) {
            CoolerSP.update(states, names, n);
            const bool on = CoolerSP[0].getState() == ISS_ON;
            const ORU_ERROR_CODE result =
                ORUSetControlValue(m_CameraId, ORU_COOLER_ON, on ? 1 : 0, ORU_FALSE);
            if (checkFailure(result, "Switching the cooler"))
                return true;
            CoolerSP.setState(result != ORU_SUCCESS ? IPS_ALERT : on ? IPS_BUSY : IPS_IDLE);
            CoolerSP.apply();
            refreshCooler();
            return true;
        }
        if (m_Modes.size() > 1 && TriggerModeSP.isNameMatch(name)) {
            if (InExposure || m_Reader) {
                LOG_ERROR("The trigger mode can only change while the camera is idle.");
                TriggerModeSP.setState(IPS_ALERT);
                TriggerModeSP.apply();
                return true;
            }
            TriggerModeSP.update(states, names, n);
            const int index = TriggerModeSP.findOnSwitchIndex();
            const ORU_CAMERA_MODE mode =
                index >= 0 ? m_Modes[static_cast<size_t>(index)] : ORU_MODE_NORMAL;
            const ORU_ERROR_CODE result = ORUSetCameraMode(m_CameraId, mode);
            if (checkFailure(result, "Setting the trigger mode"))
                return true;
            if (result == ORU_SUCCESS)
                m_Mode = mode;
            for (size_t i = 0; i < m_Modes.size(); ++i)
                TriggerModeSP[i].setState(m_Modes[i] == m_Mode ? ISS_ON : ISS_OFF);
            TriggerModeSP.setState(result == ORU_SUCCESS ? IPS_OK : IPS_ALERT);
            TriggerModeSP.apply();
            return true;
        }
        if (m_Controls.handleSwitch(name, states, names, n)) {
            if (!checkFailure(m_Controls.takeError(), "Setting a control"))
                showBayer();
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

bool OruCcd::saveConfigItems(FILE *fp)
{
    INDI::CCD::saveConfigItems(fp);
    m_Controls.save(fp);
    return true;
}

bool OruCcd::findCamera()
{
    const int count = ORUGetNumOfConnectedCameras();
    for (int index = 0; index < count; ++index) {
        ORU_CAMERA_INFO info{};
        if (ORUGetCameraProperty(&info, index) == ORU_SUCCESS && info.camera_id == m_CameraId &&
            m_ModelName == info.name)
            return true;
    }
    return false;
}

bool OruCcd::Connect()
{
    if (!findCamera()) {
        LOGF_ERROR("%s is not plugged in (camera ID %d).", m_ModelName.c_str(), m_CameraId);
        return false;
    }
    ORU_ERROR_CODE result = ORUOpenCamera(m_CameraId);
    if (result == ORU_SUCCESS) {
        m_Open = true;
        result = ORUInitCamera(m_CameraId);
    }
    if (result == ORU_SUCCESS)
        result = m_Controls.load(m_CameraId, getDeviceName());
    if (result != ORU_SUCCESS) {
        LOGF_ERROR("The camera did not start (error %d).", static_cast<int>(result));
        releaseCamera();
        return false;
    }

    m_Modes.clear();
    m_Mode = ORU_MODE_NORMAL;
    ORU_SUPPORTED_MODE supported{};
    if (ORUGetCameraSupportMode(m_CameraId, &supported) == ORU_SUCCESS)
        for (ORU_CAMERA_MODE mode : supported.SupportedCameraMode) {
            if (mode == ORU_MODE_END)
                break;
            m_Modes.push_back(mode);
        }
    TriggerModeSP.resize(m_Modes.size());
    for (size_t i = 0; i < m_Modes.size(); ++i)
        for (const ModeName &name : kModeNames)
            if (name.mode == m_Modes[i])
                TriggerModeSP[i].fill(name.name, name.label,
                                      name.mode == ORU_MODE_NORMAL ? ISS_ON : ISS_OFF);
    TriggerModeSP.fill(getDeviceName(), "ORU_TRIGGER_MODE", "Trigger", MAIN_CONTROL_TAB, IP_RW,
                       ISR_1OFMANY, 0, IPS_IDLE);

    ORU_ID serial{};
    if (ORUGetSerialNumber(m_CameraId, &serial) == ORU_SUCCESS) {
        char text[17] = {};
        for (int i = 0; i < 8; ++i)
            std::snprintf(text + 2 * i, 3, "%02x", serial.id[i]);
        InfoTP[0].setText(text);
    }
    if (m_Info.st4_port)
        m_Pulser = std::make_unique<GuidePulser>(m_CameraId);
    m_NextRefresh = Clock::now();
    m_NextPresenceCheck = Clock::now() + kPresenceCheckPeriod;
    LOGF_INFO("%s is ready.", m_ModelName.c_str());
    return true;
}

bool OruCcd::Disconnect()
{
    if (InExposure)
        AbortExposure();
    releaseCamera();
    return true;
}

void OruCcd::releaseCamera()
{
    if (m_Reader || (Streamer && Streamer->isStreaming()))
        Streamer->setStream(false);
    m_Reader.reset();
    for (PulseReport &report : m_PulseReports) {
        if (report.timer >= 0)
            IERmTimer(report.timer);
        report.timer = -1;
    }
    m_Pulser.reset();
    if (m_TimerId >= 0)
        RemoveTimer(m_TimerId);
    m_TimerId = -1;
    InExposure = false;
    if (m_Open)
        ORUCloseCamera(m_CameraId);
    m_Open = false;
}

bool OruCcd::cameraAnswers()
{
    // Enumeration closes open cameras that no longer answer.
    ORUGetNumOfConnectedCameras();
    ORU_CAMERA_INFO info{};
    return ORUGetCameraPropertyByID(m_CameraId, &info) == ORU_SUCCESS;
}

bool OruCcd::checkFailure(ORU_ERROR_CODE result, const char *what)
{
    if (result == ORU_SUCCESS || !m_Open)
        return !m_Open;
    if (IsGone(result) || (MayBeGone(result) && !cameraAnswers())) {
        cameraVanished(what);
        return true;
    }
    return false;
}

void OruCcd::cameraVanished(const char *what)
{
    LOGF_ERROR("%s failed: %s no longer answers and is released. Plug it in again and connect.",
               what, m_ModelName.c_str());
    if (InExposure)
        PrimaryCCD.setExposureFailed();
    if (HasCooler()) {
        setTemperatureAlert();
        CoolerSP.setState(IPS_ALERT);
        CoolerSP.apply();
        CoolerPowerNP.setState(IPS_ALERT);
        CoolerPowerNP.apply();
    }
    m_Controls.setAlert();
    releaseCamera();
    setConnected(false, IPS_ALERT);
    updateProperties();
}

void OruCcd::scheduleTimer(uint32_t ms)
{
    if (m_TimerId >= 0)
        RemoveTimer(m_TimerId);
    m_TimerId = SetTimer(ms);
}

void OruCcd::TimerHit()
{
    m_TimerId = -1;
    if (!isConnected() || !m_Open)
        return;
    if (InExposure) {
        if (m_Mode == ORU_MODE_NORMAL)
            pollExposure();
        else
            pollTriggeredExposure();
        if (!m_Open)
            return;
    }
    if (m_Reader && m_Reader->takeFailure()) {
        if (!cameraAnswers()) {
            cameraVanished("Video streaming");
            return;
        }
        LOG_WARN("The camera sends no video frames.");
    }
    const Clock::time_point now = Clock::now();
    if (now >= m_NextRefresh) {
        m_NextRefresh = now + std::chrono::milliseconds(getCurrentPollingPeriod());
        refreshCooler();
        if (!m_Open)
            return;
        m_Controls.refresh();
        if (checkFailure(m_Controls.takeError(), "Reading the controls"))
            return;
    }
    // Some losses show in no call's result (a snap that waits on, an
    // uncooled camera's temperature): look for the camera now and then.
    if (now >= m_NextPresenceCheck) {
        m_NextPresenceCheck = now + kPresenceCheckPeriod;
        if (!cameraAnswers()) {
            cameraVanished("Checking the camera");
            return;
        }
    }
    scheduleTimer(InExposure ? kExposurePollMs : getCurrentPollingPeriod());
}

int OruCcd::SetTemperature(double temperature)
{
    ORU_ERROR_CODE result =
        ORUSetControlValue(m_CameraId, ORU_TARGET_TEMP, std::lround(temperature), ORU_FALSE);
    if (result == ORU_SUCCESS)
        result = ORUSetControlValue(m_CameraId, ORU_COOLER_ON, 1, ORU_FALSE);
    if (result != ORU_SUCCESS) {
        if (!checkFailure(result, "Setting the temperature"))
            LOGF_ERROR("The camera refused the temperature (error %d).", static_cast<int>(result));
        return -1;
    }
    refreshCooler();
    int32_t tenths = 0;
    ORU_BOOL isAuto = ORU_FALSE;
    if (ORUGetControlValue(m_CameraId, ORU_TEMPERATURE, &tenths, &isAuto) == ORU_SUCCESS &&
        std::fabs(tenths / 10.0 - temperature) < 0.5)
        return 1;
    return 0;
}

void OruCcd::refreshCooler()
{
    if (!HasCooler() || !m_Open)
        return;
    int32_t tenths = 0;
    int32_t power = 0;
    int32_t on = 0;
    ORU_BOOL isAuto = ORU_FALSE;
    ORU_ERROR_CODE result = ORUGetControlValue(m_CameraId, ORU_TEMPERATURE, &tenths, &isAuto);
    if (result == ORU_SUCCESS)
        result = ORUGetControlValue(m_CameraId, ORU_COOL_POWER_PERC, &power, &isAuto);
    if (result == ORU_SUCCESS)
        result = ORUGetControlValue(m_CameraId, ORU_COOLER_ON, &on, &isAuto);
    if (checkFailure(result, "Reading the cooler") || result != ORU_SUCCESS)
        return;
    setTemperatureReading(tenths / 10.0);
    if (CoolerPowerNP[0].getValue() != power || CoolerPowerNP.getState() != IPS_OK) {
        CoolerPowerNP[0].setValue(power);
        CoolerPowerNP.setState(IPS_OK);
        CoolerPowerNP.apply();
    }
    if ((CoolerSP[0].getState() == ISS_ON) != (on != 0)) {
        CoolerSP[0].setState(on ? ISS_ON : ISS_OFF);
        CoolerSP[1].setState(on ? ISS_OFF : ISS_ON);
        CoolerSP.setState(on ? IPS_BUSY : IPS_IDLE);
        CoolerSP.apply();
    }
}

IPState OruCcd::GuideNorth(uint32_t ms)
{
    return startPulse(ORU_GUIDE_NORTH, AXIS_DE, ms);
}

IPState OruCcd::GuideSouth(uint32_t ms)
{
    return startPulse(ORU_GUIDE_SOUTH, AXIS_DE, ms);
}

IPState OruCcd::GuideEast(uint32_t ms)
{
    return startPulse(ORU_GUIDE_EAST, AXIS_RA, ms);
}

IPState OruCcd::GuideWest(uint32_t ms)
{
    return startPulse(ORU_GUIDE_WEST, AXIS_RA, ms);
}

IPState OruCcd::startPulse(ORU_GUIDE_DIRECTION direction, INDI_EQ_AXIS axis, uint32_t ms)
{
    if (!m_Pulser)
        return IPS_ALERT;
    PulseReport &report = m_PulseReports[axis];
    if (report.timer >= 0)
        IERmTimer(report.timer);
    m_Pulser->pulse(direction, ms);
    // The pulser ends the pulse on time; the report follows in the event loop.
    report.timer = IEAddTimer(static_cast<int>(ms), &OruCcd::reportPulse, &report);
    return IPS_BUSY;
}

void OruCcd::reportPulse(void *context)
{
    PulseReport *report = static_cast<PulseReport *>(context);
    report->timer = -1;
    report->device->GuideComplete(report->axis);
}

void OruCcd::setTemperatureReading(double celsius)
{
#if INDI_VERSION_MAJOR >= 2
    if (std::fabs(TemperatureNP[0].getValue() - celsius) < 0.05 &&
        TemperatureNP.getState() != IPS_ALERT)
        return;
    TemperatureNP[0].setValue(celsius);
    if (TemperatureNP.getState() == IPS_ALERT)
        TemperatureNP.setState(IPS_IDLE);
    TemperatureNP.apply();
#else
    if (std::fabs(TemperatureN[0].value - celsius) < 0.05 && TemperatureNP.s != IPS_ALERT)
        return;
    TemperatureN[0].value = celsius;
    if (TemperatureNP.s == IPS_ALERT)
        TemperatureNP.s = IPS_IDLE;
    IDSetNumber(&TemperatureNP, nullptr);
#endif
}

void OruCcd::setTemperatureLimits(double minimum, double maximum)
{
#if INDI_VERSION_MAJOR >= 2
    TemperatureNP[0].setMinMax(minimum, maximum);
    TemperatureNP.updateMinMax();
#else
    TemperatureN[0].min = minimum;
    TemperatureN[0].max = maximum;
    IUUpdateMinMax(&TemperatureNP);
#endif
}

void OruCcd::setTemperatureAlert()
{
#if INDI_VERSION_MAJOR >= 2
    TemperatureNP.setState(IPS_ALERT);
    TemperatureNP.apply();
#else
    TemperatureNP.s = IPS_ALERT;
    IDSetNumber(&TemperatureNP, nullptr);
#endif
}

void OruCcd::setBayerPattern(const std::string &pattern)
{
#if INDI_VERSION_MAJOR >= 2
    BayerTP[0].setText("0");
    BayerTP[1].setText("0");
    BayerTP[2].setText(pattern);
    BayerTP.apply();
#else
    IUSaveText(&BayerT[0], "0");
    IUSaveText(&BayerT[1], "0");
    IUSaveText(&BayerT[2], pattern.c_str());
    IDSetText(&BayerTP, nullptr);
#endif
}

} // namespace oru_indi
