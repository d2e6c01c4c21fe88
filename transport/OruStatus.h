// The outcome of a request to the camera: success, or a failure carrying the
// error code the engine reports for it and, when USB failed, libusb's own
// negative code, so that a time-out, a stall and a vanished device stay
// apart up to the flat API.
#pragma once

#include "api/ORUCamera.h"

class OruStatus {
public:
    static OruStatus Ok() { return OruStatus(ORU_SUCCESS, 0); }
    // A failure the engine found itself, not USB.
    static OruStatus Error(ORU_ERROR_CODE code) { return OruStatus(code, 0); }
    // A libusb result: a count or LIBUSB_SUCCESS is success, a negative
    // code a general error that keeps it.
    static OruStatus FromLibusb(int result);

    bool IsOk() const { return m_eCode == ORU_SUCCESS; }
    explicit operator bool() const { return IsOk(); }
    // ORU_SUCCESS for success.
    ORU_ERROR_CODE Code() const { return m_eCode; }
    // libusb's negative code, or LIBUSB_SUCCESS when USB did not fail.
    int LibusbCode() const { return m_iLibusbCode; }
    // libusb's name of the code, for logs.
    const char *Text() const;

    // The first failure of a sequence of requests is the one kept.
    OruStatus &operator&=(const OruStatus &next)
    {
        if (IsOk())
            *this = next;
        return *this;
    }

private:
    OruStatus(ORU_ERROR_CODE code, int libusbCode) : m_eCode(code), m_iLibusbCode(libusbCode) {}

    ORU_ERROR_CODE m_eCode;
    int m_iLibusbCode;
};
