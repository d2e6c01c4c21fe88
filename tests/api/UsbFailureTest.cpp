// Control requests that fail under a flat call, through the flat API and the
// simulated bus: a time-out reaches the caller as ORU_ERROR_TIMEOUT, a stall
// as the call's own failure, and neither outlives the call.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "sim/SimulatedCamera.h"
#include "tests/FlatCameraTest.h"
#include "transport/FX3Protocol.h"

using oru_sim::FailureKind;

namespace {

class UsbFailureTest : public FlatCameraTest {
protected:
    void SetUp() override { OpenCamera("ORU462MC"); }
};

TEST_F(UsbFailureTest, AFailedRequestGivesTheCallTheCodeOfItsUsbFailure)
{
    struct Case {
        const char *name;
        std::function<ORU_ERROR_CODE(int)> call;
        int failures;
        FailureKind kind;
        uint8_t request;
        ORU_ERROR_CODE result;
    };
    // Leading requests whose failure the engine passes over (an update hold,
    // the read of a read-modify-write) fail too.
    const Case cases[] = {
        {"offset, sensor writes time out",
         [](int id) { return ORUSetControlValue(id, ORU_OFFSET, 20, ORU_FALSE); }, 2,
         FailureKind::Timeout, FX3Request::kWriteSensorReg, ORU_ERROR_TIMEOUT},
        {"red balance, FPGA gain write times out",
         [](int id) { return ORUSetControlValue(id, ORU_WB_R, 60, ORU_FALSE); }, 2,
         FailureKind::Timeout, FX3Request::kWriteFPGAReg, ORU_ERROR_TIMEOUT},
        {"blue balance, FPGA gain write stalls",
         [](int id) { return ORUSetControlValue(id, ORU_WB_B, 60, ORU_FALSE); }, 2,
         FailureKind::Stall, FX3Request::kWriteFPGAReg, ORU_ERROR_GENERAL_ERROR},
        {"soft trigger, FPGA write times out",
         [](int id) { return ORUSendSoftTrigger(id, ORU_TRUE); }, 1, FailureKind::Timeout,
         FX3Request::kWriteFPGAReg, ORU_ERROR_TIMEOUT},
        {"trigger output, FPGA write times out",
         [](int id) {
             return ORUSetTriggerOutputIOConf(id, ORU_TRIG_OUTPUT_PINA, ORU_TRUE, 10, 20);
         },
         1, FailureKind::Timeout, FX3Request::kWriteFPGAReg, ORU_ERROR_TIMEOUT},
    };
    for (const Case &c : cases) {
        sim_->failNextRequests(c.failures, c.kind, c.request);
        EXPECT_EQ(c.call(id_), c.result) << c.name;
        EXPECT_EQ(c.call(id_), ORU_SUCCESS) << c.name << ", answered again";
    }
}

TEST_F(UsbFailureTest, ATimeOutIsNotReportedByTheNextCall)
{
    sim_->failNextRequests(2, FailureKind::Timeout, FX3Request::kWriteSensorReg);
    ASSERT_EQ(ORUSetControlValue(id_, ORU_OFFSET, 20, ORU_FALSE), ORU_ERROR_TIMEOUT);
    EXPECT_EQ(ORUSetControlValue(id_, static_cast<ORU_CONTROL_TYPE>(ORU_ANTI_DEW_HEATER + 1), 1,
                                 ORU_FALSE),
              ORU_ERROR_INVALID_CONTROL_TYPE);
}

TEST_F(UsbFailureTest, TheTriggerOutputKeepsItsSettingWhenTheCameraDidNotTakeTheNewOne)
{
    ASSERT_EQ(ORUSetTriggerOutputIOConf(id_, ORU_TRIG_OUTPUT_PINA, ORU_TRUE, 10, 20), ORU_SUCCESS);
    sim_->failNextRequests(1, FailureKind::Stall, FX3Request::kWriteFPGAReg);
    ASSERT_EQ(ORUSetTriggerOutputIOConf(id_, ORU_TRIG_OUTPUT_PINA, ORU_FALSE, 30, 40),
              ORU_ERROR_GENERAL_ERROR);
    ORU_BOOL high = ORU_FALSE;
    int32_t delay = 0;
    int32_t duration = 0;
    ASSERT_EQ(ORUGetTriggerOutputIOConf(id_, ORU_TRIG_OUTPUT_PINA, &high, &delay, &duration),
              ORU_SUCCESS);
    EXPECT_EQ(high, ORU_TRUE);
    EXPECT_EQ(delay, 10);
    EXPECT_EQ(duration, 20);
}

} // namespace
