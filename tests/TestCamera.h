// A minimal camera model for tests: a small sensor so that maps stay small,
// and model operations that only store what they are given.
#pragma once

#include "engine/CCameraBase.h"

class TestCamera : public CCameraBase {
public:
    static constexpr int kProductId = 0x1001;

    TestCamera(int maxWidth, int maxHeight, bool color, int productId = kProductId);
    // Tests describe the model they need.
    using CCameraBase::DescribeModel;
    // Tests set the state they need directly.
    CameraSettings &EditableSettings() { return *this; }

    bool InitCamera() override;
    bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
    bool SetStartPos(int x, int y) override;
    bool SetGain(int gain, bool autoGain) override;
    bool SetRGBBalance(int red, int blue, bool autoWB) override;
    bool SetExp(uint64_t us, bool autoExp) override;
    bool GetImage(unsigned char *buffer, int size, int waitMs) override;
};
