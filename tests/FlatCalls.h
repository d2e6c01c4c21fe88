// Every flat function that takes a camera ID, each called with valid
// arguments otherwise, for tests that ask the same of all of them.
#pragma once

#include <functional>
#include <vector>

#include "api/ORUCamera.h"

struct FlatCall {
    const char *name;
    std::function<ORU_ERROR_CODE(int id)> call;
};

std::vector<FlatCall> AllCameraFunctions();
