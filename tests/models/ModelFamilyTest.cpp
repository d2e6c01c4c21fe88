// The whole model family through the flat API: every product ID of the table
// is accepted and builds a camera object, and every model class opens,
// initialises and streams video from its simulated camera.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "api/ProductTable.h"
#include "engine/CCameraBase.h"
#include "models/ModelFamily.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"

// Frames that never came between two frames with these 16-bit counters.
TEST(FrameCounter, GapsAcrossTheWrapCountTheFramesMissing)
{
    struct Case {
        uint16_t previous, current;
        int missed;
    };
    // clang-format off
    const Case cases[] = {
        {7, 8, 0},       {7, 12, 4},      {65535, 0, 0},  {65534, 1, 2},
        {9, 9, 0},       // sent again
        {100, 99, 0},    // the camera counts afresh
        {5, 40000, 0},   // likewise: a jump of half the range or more
        {40000, 5, 25540},
        {0, 32767, 32766},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(ModelFamily::FramesMissed(c.previous, c.current), c.missed)
            << c.previous << " -> " << c.current;
}

TEST(ProductTable, EveryProductIsAcceptedAndBuildsItsModel)
{
    std::vector<int> ids(ORU_PRODUCT_ID_COUNT);
    ASSERT_EQ(ORUGetProductIDs(ids.data()), ORU_PRODUCT_ID_COUNT);
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size()) << "an ID listed twice";

    TempHome home; // model constructors load the stored settings
    std::set<std::string> models;
    for (int id : ids) {
        EXPECT_EQ(ORUCameraCheck(ORU_VENDOR_ID, id), 1) << std::hex << id;
        EXPECT_EQ(ORUCameraCheck(ORU_VENDOR_ID + 1, id), 0) << std::hex << id;
        CCameraBase *camera = mallocCamera(id);
        ASSERT_NE(camera, nullptr) << std::hex << id;
        EXPECT_EQ(camera->GetProductID(), id) << "the object opens the row's product";
        models.insert(camera->Model().m_szCameraName);
        delete camera;
    }
    EXPECT_EQ(models.size(), 7u);
    EXPECT_EQ(ORUCameraCheck(ORU_VENDOR_ID, 0x1000), 0);
    EXPECT_EQ(mallocCamera(0x1000), nullptr);
}

namespace {

struct FamilyCase {
    const char *simulatedModel;
    const char *cameraName;
    bool color;
};

void PrintTo(const FamilyCase &c, std::ostream *os)
{
    *os << c.simulatedModel;
}

class ModelFamilyTest : public ::testing::TestWithParam<FamilyCase> {
protected:
    TempHome home_;
    oru_sim::SimulatedBus bus_;
};

} // namespace

TEST_P(ModelFamilyTest, OpensInitialisesAndStreams)
{
    const FamilyCase &c = GetParam();
    bus_.addCamera(oru_sim::ModelCatalog::find(c.simulatedModel));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    EXPECT_STREQ(info.name, c.cameraName);
    EXPECT_EQ(info.is_color, c.color ? ORU_TRUE : ORU_FALSE);
    ASSERT_EQ(ORUOpenCamera(info.camera_id), ORU_SUCCESS);
    ASSERT_EQ(ORUInitCamera(info.camera_id), ORU_SUCCESS);

    const int id = info.camera_id;
    ASSERT_EQ(ORUSetROIFormat(id, 640, 480, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(id, ORU_EXPOSURE, 2000, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(ORUStartVideoCapture(id), ORU_SUCCESS);
    std::vector<unsigned char> frame(640 * 480);
    int delivered = 0;
    for (int i = 0; i < 3; ++i)
        delivered += ORUGetVideoData(id, frame.data(), int32_t(frame.size()), 3000) == ORU_SUCCESS;
    EXPECT_EQ(ORUStopVideoCapture(id), ORU_SUCCESS);
    EXPECT_EQ(delivered, 3);
    EXPECT_EQ(ORUCloseCamera(id), ORU_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(EveryClass, ModelFamilyTest,
                         ::testing::Values(FamilyCase{"ORU6200MC Pro", "TAV ORU6200MC Pro", true},
                                           FamilyCase{"ORU6200MM Pro", "TAV ORU6200MM Pro", false},
                                           FamilyCase{"ORU462MC", "TAV ORU462MC", true},
                                           FamilyCase{"ORU462MM", "TAV ORU462MM", false},
                                           FamilyCase{"ORU120", "ORU120", true},
                                           FamilyCase{"ORU174MM", "TAV ORU174MM", false},
                                           FamilyCase{"ORU174MC", "TAV ORU174MC", true}),
                         [](const ::testing::TestParamInfo<FamilyCase> &info) {
                             std::string name = info.param.simulatedModel;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });
