/* Prints the library version and the number of connected cameras. */
#include <stdio.h>

#include "ORUCamera.h"

int main(void)
{
    printf("tav_oru SDK %s\n", ORUGetSDKVersion());
    printf("connected cameras: %d\n", ORUGetNumOfConnectedCameras());
    return 0;
}
