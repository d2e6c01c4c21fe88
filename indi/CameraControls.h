// The camera's own controls as INDI properties. Numeric controls are the
// elements of CCD_CONTROLS (named as the camera names them: "Gain",
// "Offset", ...), with CCD_CONTROLS_MODE switching those the camera can run
// automatically; on/off controls are switch properties of their own; flip is
// FLIP with a horizontal and a vertical switch. Exposure, temperature and the
// cooler are the device's own properties and not handled here.
#pragma once

#include <cstdio>
#include <deque>
#include <optional>
#include <vector>

#include <defaultdevice.h>
#include <indipropertynumber.h>
#include <indipropertyswitch.h>

#include "ORUCamera.h"

namespace oru_indi {

class CameraControls {
public:
    CameraControls();

    // Reads the control list, the limits and the values of an opened camera.
    ORU_ERROR_CODE load(int cameraId, const char *deviceName);
    void define(INDI::DefaultDevice &device);
    void remove(INDI::DefaultDevice &device);

    // A client's change. False when the property is none of these.
    bool handleNumber(const char *name, const double values[], char *names[], int n);
    bool handleSwitch(const char *name, const ISState *states, char *names[], int n);
    // Sends what the camera changed by itself (automatic gain, white balance).
    void refresh();
    void setAlert();
    void save(FILE *fp);

    // The last value read; none when the camera lacks the control.
    std::optional<long> value(ORU_CONTROL_TYPE type) const;
    // Name, limits and flags; none when the camera lacks the control.
    std::optional<ORU_CONTROL_CAPS> caps(ORU_CONTROL_TYPE type) const;
    // The first failure since the last call, ORU_SUCCESS without one.
    ORU_ERROR_CODE takeError();

private:
    struct Control {
        ORU_CONTROL_CAPS caps;
        long value = 0;
        bool isAuto = false;
    };
    struct OnOffSwitch {
        ORU_CONTROL_TYPE type;
        INDI::PropertySwitch property{2};
    };

    // Calls visit(INDI::Property &) for each property the camera has.
    template <typename Visit>
    void forEachProperty(Visit visit);
    Control *find(ORU_CONTROL_TYPE type);
    const Control *find(ORU_CONTROL_TYPE type) const;
    Control *findByName(const char *name);
    // Sets a control and reads back what the camera applied.
    bool apply(Control &control, long value, bool isAuto);
    bool readBack(Control &control);
    void showValues();
    void note(ORU_ERROR_CODE result);

    int m_CameraId = -1;
    std::vector<Control> m_Controls;
    std::vector<ORU_CONTROL_TYPE> m_NumberTypes;
    std::vector<ORU_CONTROL_TYPE> m_AutoTypes;
    INDI::PropertyNumber m_Numbers{0};
    INDI::PropertySwitch m_Auto{0};
    INDI::PropertySwitch m_Flip{2};
    bool m_HasFlip = false;
    std::deque<OnOffSwitch> m_Switches;
    ORU_ERROR_CODE m_Error = ORU_SUCCESS;
};

} // namespace oru_indi
