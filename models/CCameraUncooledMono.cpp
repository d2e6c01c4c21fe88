#include "models/CCameraUncooledMono.h"

CCameraUncooledMono::CCameraUncooledMono()
    : CCameraUncooledColor(0x1004, "TAV ORU462MM", "ORU462MM", false)
{
}
