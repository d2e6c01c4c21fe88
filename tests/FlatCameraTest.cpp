#include "FlatCameraTest.h"

#include <algorithm>
#include <cstring>

#include "sim/ModelCatalog.h"

void FlatCameraTest::TearDown()
{
    if (id_ >= 0)
        ORUCloseCamera(id_);
    if (sim_ != nullptr)
        sim_->setRegisterObserver(nullptr);
}

void FlatCameraTest::OpenCamera(const std::string &model)
{
    sim_ = &bus_.addCamera(oru_sim::ModelCatalog::find(model));
    stream_ = std::dynamic_pointer_cast<oru_sim::FrameStream>(sim_->dataSource());
    ASSERT_NE(stream_, nullptr);
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    id_ = info.camera_id;
    ASSERT_EQ(ORUOpenCamera(id_), ORU_SUCCESS);
    ASSERT_EQ(ORUInitCamera(id_), ORU_SUCCESS);
}

void FlatCameraTest::SetRoi(int width, int height, int bin, ORU_IMG_TYPE type)
{
    ASSERT_EQ(ORUSetROIFormat(id_, width, height, bin, type), ORU_SUCCESS);
    const int bytesPerPixel = type == ORU_IMG_RAW16 ? 2 : type == ORU_IMG_RGB24 ? 3 : 1;
    rowBytes_ = width * bytesPerPixel;
    frameBytes_ = rowBytes_ * height;
}

void FlatCameraTest::SetControl(ORU_CONTROL_TYPE control, int32_t value, ORU_BOOL autoOn)
{
    ASSERT_EQ(ORUSetControlValue(id_, control, value, autoOn), ORU_SUCCESS);
}

int FlatCameraTest::Dropped()
{
    int dropped = -1;
    EXPECT_EQ(ORUGetDroppedFrames(id_, &dropped), ORU_SUCCESS);
    return dropped;
}

ORU_EXPOSURE_STATUS FlatCameraTest::Status()
{
    ORU_EXPOSURE_STATUS status = ORU_EXP_IDLE;
    EXPECT_EQ(ORUGetExpStatus(id_, &status), ORU_SUCCESS);
    return status;
}

std::vector<unsigned char> FlatCameraTest::VideoFrame(int waitMs)
{
    std::vector<unsigned char> frame(static_cast<size_t>(frameBytes_));
    if (ORUGetVideoData(id_, frame.data(), frameBytes_, waitMs) != ORU_SUCCESS)
        frame.clear();
    return frame;
}

std::vector<uint8_t> FlatCameraTest::MarkersHidden(std::vector<uint8_t> frame, int rowBytes)
{
    // Indices, with the length checked first: GCC 12 at -O3 takes pointer
    // arithmetic here for a write past the end.
    const size_t twoRows = 2 * static_cast<size_t>(rowBytes);
    if (frame.size() < twoRows + 8)
        return frame; // too short to borrow two rows from: left as sent
    const size_t tail = frame.size() - 4;
    std::copy_n(frame.begin() + twoRows, 4, frame.begin());
    std::copy_n(frame.begin() + (tail - twoRows), 4, frame.begin() + tail);
    return frame;
}

const oru_sim::SentFrame *FlatCameraTest::SentFrameOf(const std::vector<oru_sim::SentFrame> &sent,
                                                      const std::vector<unsigned char> &frame,
                                                      int after) const
{
    const oru_sim::SentFrame *found = nullptr;
    for (const oru_sim::SentFrame &candidate : sent)
        if (candidate.counter > after && (found == nullptr || candidate.counter < found->counter) &&
            candidate.bytes.size() == frame.size() &&
            MarkersHidden(candidate.bytes, rowBytes_) == frame)
            found = &candidate;
    return found;
}
