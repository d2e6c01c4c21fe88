/* Compiles the public header as C, so its layout checks run for C callers too. */
#include "api/ORUCamera.h"

int oru_header_check_c(void)
{
    ORU_CAMERA_INFO info;
    info.camera_id = 0;
    return info.camera_id;
}
