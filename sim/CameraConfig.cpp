#include "sim/CameraConfig.h"

namespace oru_sim {

CameraConfig CameraConfig::usb3Camera(uint16_t productId)
{
    CameraConfig config;
    config.productId = productId;
    return config;
}

CameraConfig CameraConfig::usb2Camera(uint16_t productId)
{
    CameraConfig config;
    config.productId = productId;
    config.superSpeed = false;
    config.bulkEndpoint = 0x82;
    config.controller = ControllerKind::FX2;
    return config;
}

}  // namespace oru_sim
