// The ORU174MC: the colour PYTHON model (product 0x100A), an RGGB mosaic on
// the same sensor as the mono twin.
#pragma once

#include "models/CCameraPython.h"

class CCameraPythonColor : public CCameraPython {
public:
    CCameraPythonColor();
};
