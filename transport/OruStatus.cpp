#include "transport/OruStatus.h"

#include <libusb.h>

OruStatus OruStatus::FromLibusb(int result)
{
    if (result >= 0)
        return Ok();
    return OruStatus(ORU_ERROR_GENERAL_ERROR, result);
}

const char *OruStatus::Text() const
{
    return libusb_error_name(m_iLibusbCode);
}
