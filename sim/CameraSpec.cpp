#include "sim/CameraSpec.h"

namespace oru_sim {

CameraSpec CameraSpec::usb3Camera(uint16_t productId)
{
    CameraSpec spec;
    spec.productId = productId;
    return spec;
}

CameraSpec CameraSpec::usb2Camera(uint16_t productId)
{
    CameraSpec spec;
    spec.productId = productId;
    spec.superSpeed = false;
    spec.bulkEndpoint = 0x82;
    spec.controller = ControllerKind::FX2;
    return spec;
}

}  // namespace oru_sim
