#include "models/CCameraProMono.h"

CCameraProMono::CCameraProMono()
    : CCameraProColor(0x1002, "TAV ORU6200MM Pro", "ORU6200MM Pro", false)
{
}
