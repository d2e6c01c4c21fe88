#include "wrapper/Sdk.h"

#include "api/ORUCamera.h"

namespace tav_oru {

int get_nb_cameras()
{
    return ORUGetNumOfConnectedCameras();
}

std::string get_sdk_version()
{
    return ORUGetSDKVersion();
}

} // namespace tav_oru
