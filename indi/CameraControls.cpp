#include "CameraControls.h"

#include <cmath>
#include <cstring>
#include <string>

namespace oru_indi {

namespace {

const char *const kControlsGroup = "Controls";
const char *const kAutoPrefix = "AUTO_";

enum class Shown { Number, OnOff, Flip, ByDevice };

struct ControlShape {
    ORU_CONTROL_TYPE type;
    Shown shown;
    const char *property; // for switches
    const char *label;
};

// Every control not listed here is a number of CCD_CONTROLS.
constexpr ControlShape kShapes[] = {
    {ORU_EXPOSURE, Shown::ByDevice, nullptr, nullptr},
    {ORU_TEMPERATURE, Shown::ByDevice, nullptr, nullptr},
    {ORU_COOL_POWER_PERC, Shown::ByDevice, nullptr, nullptr},
    {ORU_TARGET_TEMP, Shown::ByDevice, nullptr, nullptr},
    {ORU_COOLER_ON, Shown::ByDevice, nullptr, nullptr},
    {ORU_FLIP, Shown::Flip, "FLIP", "Flip"},
    {ORU_HARDWARE_BIN, Shown::OnOff, "ORU_HARDWARE_BIN", "Hardware bin"},
    {ORU_HIGH_SPEED_MODE, Shown::OnOff, "ORU_HIGH_SPEED", "High speed"},
    {ORU_MONO_BIN, Shown::OnOff, "ORU_MONO_BIN", "Mono bin"},
    {ORU_FAN_ON, Shown::OnOff, "ORU_FAN", "Fan"},
    {ORU_ANTI_DEW_HEATER, Shown::OnOff, "ORU_ANTI_DEW_HEATER", "Anti-dew heater"},
};

const ControlShape *ShapeOf(ORU_CONTROL_TYPE type)
{
    for (const ControlShape &shape : kShapes)
        if (shape.type == type)
            return &shape;
    return nullptr;
}

Shown ShownAs(ORU_CONTROL_TYPE type)
{
    const ControlShape *shape = ShapeOf(type);
    return shape ? shape->shown : Shown::Number;
}

ISState On(bool on)
{
    return on ? ISS_ON : ISS_OFF;
}

} // namespace

CameraControls::CameraControls()
{
    m_Flip[0].fill("FLIP_HORIZONTAL", "Horizontal", ISS_OFF);
    m_Flip[1].fill("FLIP_VERTICAL", "Vertical", ISS_OFF);
}

ORU_ERROR_CODE CameraControls::load(int cameraId, const char *deviceName)
{
    m_CameraId = cameraId;
    m_Controls.clear();
    m_NumberTypes.clear();
    m_AutoTypes.clear();
    m_Switches.clear();
    m_HasFlip = false;
    m_Error = ORU_SUCCESS;

    int count = 0;
    ORU_ERROR_CODE result = ORUGetNumOfControls(cameraId, &count);
    for (int i = 0; result == ORU_SUCCESS && i < count; ++i) {
        Control control{};
        result = ORUGetControlCaps(cameraId, i, &control.caps);
        if (result == ORU_SUCCESS)
            m_Controls.push_back(control);
    }
    if (result != ORU_SUCCESS)
        return result;
    // The fan is not in the camera's list; a cooled camera answers for it.
    int32_t fan = 0;
    ORU_BOOL fanAuto = ORU_FALSE;
    if (!find(ORU_FAN_ON) &&
        ORUGetControlValue(cameraId, ORU_FAN_ON, &fan, &fanAuto) == ORU_SUCCESS) {
        Control control{};
        std::snprintf(control.caps.name, sizeof control.caps.name, "%s", "FanOn");
        control.caps.max_value = 1;
        control.caps.is_writable = ORU_TRUE;
        control.caps.control_type = ORU_FAN_ON;
        m_Controls.push_back(control);
    }
    for (Control &control : m_Controls)
        if (!readBack(control))
            return m_Error;

    for (const Control &control : m_Controls) {
        const ORU_CONTROL_TYPE type = control.caps.control_type;
        if (!control.caps.is_writable)
            continue;
        switch (ShownAs(type)) {
        case Shown::Number:
            m_NumberTypes.push_back(type);
            if (control.caps.supports_auto)
                m_AutoTypes.push_back(type);
            break;
        case Shown::OnOff: {
            const ControlShape *shape = ShapeOf(type);
            m_Switches.push_back(OnOffSwitch{type});
            INDI::PropertySwitch &property = m_Switches.back().property;
            property[0].fill("INDI_ENABLED", "On", On(control.value != 0));
            property[1].fill("INDI_DISABLED", "Off", On(control.value == 0));
            property.fill(deviceName, shape->property, shape->label, kControlsGroup, IP_RW,
                          ISR_1OFMANY, 60, IPS_IDLE);
            break;
        }
        case Shown::Flip:
            m_HasFlip = true;
            m_Flip.fill(deviceName, "FLIP", "Flip", kControlsGroup, IP_RW, ISR_NOFMANY, 60,
                        IPS_IDLE);
            break;
        case Shown::ByDevice: break;
        }
    }

    m_Numbers.resize(m_NumberTypes.size());
    for (size_t i = 0; i < m_NumberTypes.size(); ++i) {
        const Control &control = *find(m_NumberTypes[i]);
        m_Numbers[i].fill(control.caps.name, control.caps.name, "%.f", control.caps.min_value,
                          control.caps.max_value, 1, control.value);
    }
    m_Numbers.fill(deviceName, "CCD_CONTROLS", "Controls", MAIN_CONTROL_TAB, IP_RW, 60, IPS_IDLE);

    m_Auto.resize(m_AutoTypes.size());
    for (size_t i = 0; i < m_AutoTypes.size(); ++i) {
        const Control &control = *find(m_AutoTypes[i]);
        m_Auto[i].fill(std::string(kAutoPrefix) + control.caps.name, control.caps.name,
                       On(control.isAuto));
    }
    m_Auto.fill(deviceName, "CCD_CONTROLS_MODE", "Auto", kControlsGroup, IP_RW, ISR_NOFMANY, 60,
                IPS_IDLE);
    showValues();
    return ORU_SUCCESS;
}

template <typename Visit>
void CameraControls::forEachProperty(Visit visit)
{
    if (!m_NumberTypes.empty())
        visit(m_Numbers);
    if (!m_AutoTypes.empty())
        visit(m_Auto);
    if (m_HasFlip)
        visit(m_Flip);
    for (OnOffSwitch &onOff : m_Switches)
        visit(onOff.property);
}

void CameraControls::define(INDI::DefaultDevice &device)
{
    forEachProperty([&device](INDI::Property &property) { device.defineProperty(property); });
}

void CameraControls::remove(INDI::DefaultDevice &device)
{
    forEachProperty(
        [&device](INDI::Property &property) { device.deleteProperty(property.getName()); });
}

bool CameraControls::handleNumber(const char *name, const double values[], char *names[], int n)
{
    if (m_NumberTypes.empty() || !m_Numbers.isNameMatch(name))
        return false;
    bool done = true;
    for (int i = 0; i < n; ++i) {
        Control *control = findByName(names[i]);
        if (control)
            done = apply(*control, std::lround(values[i]), control->isAuto) && done;
    }
    showValues();
    m_Numbers.setState(done ? IPS_OK : IPS_ALERT);
    m_Numbers.apply();
    return true;
}

bool CameraControls::handleSwitch(const char *name, const ISState *states, char *names[], int n)
{
    if (!m_AutoTypes.empty() && m_Auto.isNameMatch(name)) {
        bool done = true;
        for (int i = 0; i < n; ++i) {
            const size_t prefix = std::strlen(kAutoPrefix);
            Control *control = std::strncmp(names[i], kAutoPrefix, prefix) == 0
                                   ? findByName(names[i] + prefix)
                                   : nullptr;
            if (control)
                done = apply(*control, control->value, states[i] == ISS_ON) && done;
        }
        showValues();
        m_Auto.setState(done ? IPS_OK : IPS_ALERT);
        m_Auto.apply();
        m_Numbers.apply();
        return true;
    }
    if (m_HasFlip && m_Flip.isNameMatch(name)) {
        m_Flip.update(states, names, n);
        const long flip = (m_Flip[0].getState() == ISS_ON ? ORU_FLIP_HORIZ : 0) |
                          (m_Flip[1].getState() == ISS_ON ? ORU_FLIP_VERT : 0);
        const bool done = apply(*find(ORU_FLIP), flip, false);
        showValues();
        m_Flip.setState(done ? IPS_OK : IPS_ALERT);
        m_Flip.apply();
        return true;
    }
    for (OnOffSwitch &onOff : m_Switches) {
        if (!onOff.property.isNameMatch(name))
            continue;
        onOff.property.update(states, names, n);
        const bool on = onOff.property[0].getState() == ISS_ON;
        const bool done = apply(*find(onOff.type), on ? 1 : 0, false);
        showValues();
        onOff.property.setState(done ? IPS_OK : IPS_ALERT);
        onOff.property.apply();
        return true;
    }
    return false;
}

void CameraControls::refresh()
{
    bool changed = false;
    for (const ORU_CONTROL_TYPE type : m_NumberTypes) {
        Control &control = *find(type);
        const long before = control.value;
        if (readBack(control))
            changed = changed || control.value != before;
    }
    if (!changed)
        return;
    showValues();
    m_Numbers.apply();
}

void CameraControls::setAlert()
{
    forEachProperty([](INDI::Property &property) {
        property.setState(IPS_ALERT);
        property.apply();
    });
}

void CameraControls::save(FILE *fp)
{
    forEachProperty([fp](INDI::Property &property) { property.save(fp); });
}

std::optional<long> CameraControls::value(ORU_CONTROL_TYPE type) const
{
    const Control *control = find(type);
    if (!control)
        return std::nullopt;
    return control->value;
}

std::optional<ORU_CONTROL_CAPS> CameraControls::caps(ORU_CONTROL_TYPE type) const
{
    const Control *control = find(type);
    if (!control)
        return std::nullopt;
    return control->caps;
}

ORU_ERROR_CODE CameraControls::takeError()
{
    const ORU_ERROR_CODE error = m_Error;
    m_Error = ORU_SUCCESS;
    return error;
}

CameraControls::Control *CameraControls::find(ORU_CONTROL_TYPE type)
{
    for (Control &control : m_Controls)
        if (control.caps.control_type == type)
            return &control;
    return nullptr;
}

const CameraControls::Control *CameraControls::find(ORU_CONTROL_TYPE type) const
{
    return const_cast<CameraControls *>(this)->find(type);
}

CameraControls::Control *CameraControls::findByName(const char *name)
{
    for (Control &control : m_Controls)
        if (std::strcmp(control.caps.name, name) == 0)
            return &control;
    return nullptr;
}

bool CameraControls::apply(Control &control, long value, bool isAuto)
{
    const ORU_ERROR_CODE result =
        ORUSetControlValue(m_CameraId, control.caps.control_type, static_cast<int32_t>(value),
                           isAuto ? ORU_TRUE : ORU_FALSE);
    note(result);
    return readBack(control) && result == ORU_SUCCESS;
}

bool CameraControls::readBack(Control &control)
{
    int32_t value = 0;
    ORU_BOOL isAuto = ORU_FALSE;
    const ORU_ERROR_CODE result =
        ORUGetControlValue(m_CameraId, control.caps.control_type, &value, &isAuto);
    note(result);
    if (result != ORU_SUCCESS)
        return false;
    control.value = value;
    control.isAuto = isAuto == ORU_TRUE;
    return true;
}

void CameraControls::showValues()
{
    for (size_t i = 0; i < m_NumberTypes.size(); ++i)
        m_Numbers[i].setValue(static_cast<double>(find(m_NumberTypes[i])->value));
    for (size_t i = 0; i < m_AutoTypes.size(); ++i)
        m_Auto[i].setState(On(find(m_AutoTypes[i])->isAuto));
    if (m_HasFlip) {
        const long flip = find(ORU_FLIP)->value;
        m_Flip[0].setState(On(flip & ORU_FLIP_HORIZ));
        m_Flip[1].setState(On(flip & ORU_FLIP_VERT));
    }
    for (OnOffSwitch &onOff : m_Switches) {
        const bool on = find(onOff.type)->value != 0;
        onOff.property[0].setState(On(on));
        onOff.property[1].setState(On(!on));
    }
}

void CameraControls::note(ORU_ERROR_CODE result)
{
    if (result != ORU_SUCCESS && m_Error == ORU_SUCCESS)
        m_Error = result;
}

} // namespace oru_indi
