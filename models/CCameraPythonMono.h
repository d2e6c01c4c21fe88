// The ORU174MM: the mono PYTHON model (product 0x1009).
#pragma once

#include "models/CCameraPython.h"

class CCameraPythonMono : public CCameraPython {
public:
    CCameraPythonMono();
};
