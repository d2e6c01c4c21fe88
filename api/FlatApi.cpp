// The ORU functions that act on an opened camera.
#include "api/ORUCamera.h"

namespace {
constexpr char kSdkVersion[] = "1, 26, 0, 0";
}

const char *ORUGetSDKVersion(void)
{
    return kSdkVersion;
}
