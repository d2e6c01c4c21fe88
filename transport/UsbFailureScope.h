// The USB failures of one flat call: the calling thread's last failure starts
// empty for the call and is given back to the enclosing call (a flat
// function may call another) when it ends.
#pragma once

#include "transport/CCameraFX3.h"

class UsbFailureScope {
public:
    UsbFailureScope() : m_Enclosing(CCameraFX3::ExchangeLastUsbFailure(OruStatus::Ok())) {}
    ~UsbFailureScope() { CCameraFX3::ExchangeLastUsbFailure(m_Enclosing); }
    UsbFailureScope(const UsbFailureScope &) = delete;
    UsbFailureScope &operator=(const UsbFailureScope &) = delete;

private:
    const OruStatus m_Enclosing;
};
