// A transport object opened the way the camera object opens it: the
// index-th device of a vendor and product ID, configuration 1, interface 0.
#pragma once

#include "api/CameraRegistry.h"
#include "api/ORUCamera.h"
#include "transport/CCameraFX3.h"

class OpenedTransport : public CCameraFX3 {
public:
    bool Open(uint16_t productId)
    {
        m_pDevHandle =
            libusb_open_device_with_vid_pid_index(m_pUsbContext, ORU_VENDOR_ID, productId, 1);
        if (!m_pDevHandle)
            return false;
        if (libusb_set_configuration(m_pDevHandle, 1) < 0 ||
            libusb_claim_interface(m_pDevHandle, 0) < 0) {
            libusb_close(m_pDevHandle);
            m_pDevHandle = nullptr;
            return false;
        }
        m_bOpen = true;
        return true;
    }

    uint8_t FirmwareVersion() const { return m_ucFirmwareVer; }
    uint8_t *FirmwareVersionField() { return &m_ucFirmwareVer; }
    // How the pipelined transfer of this index ended last.
    libusb_transfer_status PipelinedXferStatus(int index) const { return m_ppXfer[index]->status; }
};
