// What the simulated camera answers to the vendor requests of the family.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "SimTestFixture.h"

using namespace oru_sim;

namespace {

struct Fixture : SimTestFixture {
    libusb_device_handle* plugIn(CameraConfig config = {})
    {
        camera = &addCamera(config);
        return open(*camera);
    }

    uint8_t readFpga(libusb_device_handle* handle, uint16_t reg) { return readIn(handle, 0xBC, reg, 0, 1).at(0); }

    SimulatedCamera* camera = nullptr;
};

using Bytes = std::vector<uint8_t>;

}  // namespace

using RequestTest = Fixture;

TEST_F(RequestTest, IdentityRequestsAnswerAsTheCameraDescriptionSays)
{
    struct Case {
        const char* name;
        void (*configure)(CameraConfig&);
        uint8_t request;
        uint16_t length;
        Bytes reply;
    };
    const Case cases[] = {
        {"firmware version", [](CameraConfig&) {}, 0xAD, 2, {'V', 0x30}},
        {"other firmware reply",
         [](CameraConfig& s) {
             s.firmwareTag = 'X';
             s.firmwareVersion = 5;
         },
         0xAD,
         2,
         {'X', 5}},
        {"USB3 host", [](CameraConfig&) {}, 0xB4, 1, {1}},
        {"USB2 host", [](CameraConfig& s) { s.superSpeed = false; }, 0xB4, 1, {0}},
        {"serial",
         [](CameraConfig& s) { s.serialNumber = SerialNumber{1, 2, 3, 4, 5, 6, 7, 8}; },
         0xC8,
         8,
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"zero serial", [](CameraConfig& s) { s.serialNumber = SerialNumber{}; }, 0xC8, 8, Bytes(8, 0)},
        {"GPIF status", [](CameraConfig& s) { s.gpifStatus = 0x5A; }, 0xFD, 1, {0x5A}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraConfig config;
        c.configure(config);
        libusb_device_handle* handle = plugIn(config);
        EXPECT_EQ(readIn(handle, c.request, 0, 0, c.length), c.reply);
    }
}

TEST_F(RequestTest, ControllerSwitchesAndAcceptedRequests)
{
    libusb_device_handle* handle = plugIn();
    for (uint8_t request : {0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB5, 0xA3, 0xA4, 0xAB, 0xAC})
        EXPECT_EQ(vendorOut(handle, request, 1, 2), 0) << std::hex << int{request};
    for (uint8_t request : {0xB3, 0xC7, 0x85})
        EXPECT_EQ(readIn(handle, request, 245, 0, 2), Bytes(2, 0)) << std::hex << int{request};

    EXPECT_EQ(vendorOut(handle, 0xBE, 1, 0), 0);
    EXPECT_TRUE(camera->gpif32BitBus());
    EXPECT_EQ(vendorOut(handle, 0xBE, 0, 0), 0);
    EXPECT_FALSE(camera->gpif32BitBus());
    EXPECT_EQ(vendorOut(handle, 0xA9, 0, 0), 0);
    EXPECT_TRUE(camera->streaming());
    EXPECT_EQ(vendorOut(handle, 0xAA, 0, 0), 0);
    EXPECT_FALSE(camera->streaming());

    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0x42, 0, 0, reply, 1), LIBUSB_ERROR_PIPE) << "unknown request";
    EXPECT_EQ(vendorOut(handle, 0xAD, 0, 0), LIBUSB_ERROR_PIPE) << "wrong direction";
    EXPECT_EQ(vendorIn(handle, 0xA0, 0, 0, reply, 1), LIBUSB_ERROR_PIPE) << "no boot loader in FX3 firmware";
}

TEST_F(RequestTest, CameraAndSensorRegisters)
{
    std::vector<std::tuple<RegisterSpace, uint16_t, uint16_t>> observed;
    libusb_device_handle* handle = plugIn();
    camera->setRegisterObserver(
        [&](RegisterSpace space, uint16_t address, uint16_t value) { observed.emplace_back(space, address, value); });

    EXPECT_EQ(vendorOut(handle, 0xA6, 0x3012, 0x1234), 0);
    EXPECT_EQ(camera->cameraRegister(0x3012), 0x1234);
    EXPECT_EQ(readIn(handle, 0xA7, 0x3012, 0, 2), (Bytes{0x12, 0x34})) << "most significant byte first";

    EXPECT_EQ(vendorOut(handle, 0xB6, 0x301A, 0x01AB), 0);
    EXPECT_EQ(camera->sensorRegister(0x301A), 0xAB);
    EXPECT_EQ(readIn(handle, 0xB7, 0x301A, 0, 1), Bytes{0xAB});

    camera->setCameraRegister(0x0010, 0xBEEF);
    EXPECT_EQ(readIn(handle, 0xA7, 0x0010, 0, 2), (Bytes{0xBE, 0xEF}));

    using Write = std::tuple<RegisterSpace, uint16_t, uint16_t>;
    EXPECT_EQ(observed, (std::vector<Write>{Write{RegisterSpace::Camera, 0x3012, 0x1234},
                                            Write{RegisterSpace::Sensor, 0x301A, 0xAB}}));
}

TEST_F(RequestTest, FpgaVersionRegistersInBothLayouts)
{
    struct Case {
        FpgaVersion version;
        Bytes registers28to33;
    };
    const Case cases[] = {
        {FpgaVersion::olderLayout(0x05, 0x12, 0x34), {2, 0x05, 0x12, 0x34, 0, 0}},
        {FpgaVersion::newerLayout(0x0105, 0x12, 0x34), {3, 0x05, 0x01, 0, 0x12, 0x34}},
    };
    for (const Case& c : cases) {
        CameraConfig config;
        config.fpgaVersion = c.version;
        libusb_device_handle* handle = plugIn(config);
        EXPECT_EQ(vendorOut(handle, 0xBD, 29, 0x77), 0);  // read-only: ignored
        Bytes read;
        for (uint16_t reg = 28; reg <= 33; ++reg)
            read.push_back(readFpga(handle, reg));
        EXPECT_EQ(read, c.registers28to33);
    }
}

TEST_F(RequestTest, FpgaRegistersAndDdrSelfTest)
{
    struct Case {
        DdrBehaviour ddr;
        uint8_t testValue;
        bool readyAfterwards;
    };
    const Case cases[] = {
        {DdrBehaviour::ReadyAfterSelfTest, 0x80, true},
        {DdrBehaviour::ReadyAfterSelfTest, 0x01, false},
        {DdrBehaviour::NeverReady, 0x80, false},
    };
    for (const Case& c : cases) {
        CameraConfig config;
        config.ddr = c.ddr;
        libusb_device_handle* handle = plugIn(config);
        EXPECT_EQ(readFpga(handle, 35) & 1, 0);
        EXPECT_EQ(vendorOut(handle, 0xBD, 24, c.testValue), 0);
        EXPECT_EQ((readFpga(handle, 35) & 1) != 0, c.readyAfterwards);
        EXPECT_EQ(readFpga(handle, 24), c.testValue);
    }

    libusb_device_handle* handle = plugIn();
    EXPECT_EQ(vendorOut(handle, 0xBD, 0, 0x10), 0);  // reset bit clear, stop bit set
    EXPECT_EQ(readFpga(handle, 0), 0x10);
    EXPECT_EQ(vendorOut(handle, 0xBD, 38, 0x1FF), 0);  // an 8-bit register keeps the low byte
    EXPECT_EQ(camera->fpgaRegister(38), 0xFF);
    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0xBC, 256, 0, reply, 1), LIBUSB_ERROR_PIPE);
}

TEST_F(RequestTest, SpiFlashProgramsLikeNorAndErasesWithBusyPolls)
{
    CameraConfig config;
    config.flashBusyPolls = 3;
    libusb_device_handle* handle = plugIn(config);
    const uint16_t page = 0x0700;  // address 0x70000, sector 7

    EXPECT_EQ(vendorOut(handle, 0xC2, 0, page, {0xF0, 0xFF, 0x0F}), 3);
    EXPECT_EQ(vendorOut(handle, 0xC2, 0, page, {0x3C, 0x3C, 0x3C}), 3);
    EXPECT_EQ(readIn(handle, 0xC3, 0, page, 4), (Bytes{0x30, 0x3C, 0x0C, 0xFF})) << "bits only cleared";
    EXPECT_EQ(camera->readFlash(0x70000, 2), (Bytes{0x30, 0x3C}));

    camera->writeFlash(0x6FFFF, {0x55});  // last byte of sector 6
    EXPECT_EQ(vendorOut(handle, 0xC4, 1, 7), 0);
    EXPECT_EQ(vendorOut(handle, 0xC2, 0, page, {0x00}), 1);  // while busy: ignored
    Bytes polls;
    for (int i = 0; i < 4; ++i)
        polls.push_back(readIn(handle, 0xC4, 0, 7, 1).at(0));
    EXPECT_NE(polls[0], 0);
    EXPECT_NE(polls[2], 0);
    EXPECT_EQ(polls[3], 0);
    EXPECT_EQ(readIn(handle, 0xC3, 0, page, 4), Bytes(4, 0xFF));
    EXPECT_EQ(camera->readFlash(0x6FFFF, 1), Bytes{0x55}) << "other sectors keep their data";

    EXPECT_EQ(vendorOut(handle, 0xC4, 1, 16), LIBUSB_ERROR_PIPE) << "no sector 16";
    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0xC3, 0, 0x0FFF, reply, 512), LIBUSB_ERROR_PIPE) << "beyond the last byte";
}

TEST_F(RequestTest, I2cEeprom)
{
    libusb_device_handle* handle = plugIn();
    EXPECT_EQ(vendorOut(handle, 0xBA, 1, 0x100, {1, 2, 3}), 3);
    EXPECT_EQ(readIn(handle, 0xBB, 1, 0x100, 4), (Bytes{1, 2, 3, 0xFF}));
    EXPECT_EQ(camera->readEeprom(1, 0x100, 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(camera->readEeprom(0, 0x100, 1), Bytes{0xFF}) << "another device";
    EXPECT_EQ(vendorOut(handle, 0xBA, 8, 0, {1}), LIBUSB_ERROR_PIPE) << "no device 8";
}

TEST_F(RequestTest, Fx2RamDownloadAndEepromLoader)
{
    libusb_device_handle* handle = plugIn(CameraConfig::usb2Camera(0x0801));
    Bytes loader(2048, 0x11);
    const char signature[] = "ORU-EEPROM-LOADER";
    std::memcpy(loader.data() + 3, signature, 17);

    EXPECT_EQ(vendorOut(handle, 0xA0, 0x0000, 0, loader), LIBUSB_ERROR_PIPE) << "CPU running";
    EXPECT_EQ(vendorOut(handle, 0xA0, 0xE600, 0, {1}), 1);
    EXPECT_TRUE(camera->cpuHeld());
    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2, 100), LIBUSB_ERROR_TIMEOUT) << "held CPU answers nothing";
    EXPECT_EQ(vendorOut(handle, 0xA0, 0x0000, 0, loader), 2048);
    EXPECT_EQ(readIn(handle, 0xA0, 0x0003, 0, 17), Bytes(signature, signature + 17));
    EXPECT_EQ(vendorOut(handle, 0xA0, 0xE600, 0, {0}), 1);
    ASSERT_TRUE(camera->eepromLoaderRunning());

    Bytes block(4096);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(vendorOut(handle, 0xA9, 0x1000, 0, block), 4096);
    EXPECT_EQ(readIn(handle, 0xA9, 0x1000, 0, 4096), block);
    EXPECT_EQ(camera->readEeprom(0, 0x1000, 4096), block);
    EXPECT_FALSE(camera->streaming()) << "0xA9 is EEPROM access under the loader";
}

TEST_F(RequestTest, Fx2StartsWhatItsRamHolds)
{
    struct Case {
        const char* name;
        Bytes program;  // written at RAM 0 while the CPU is held; empty: RAM as it was
        bool comesBack;
        uint8_t version;
    };
    Bytes firmware(64, 0x22);
    const Bytes signature = {'O', 'R', 'U', '-', 'F', 'X', '2', '-', 'C', 'A', 'M', 'E', 'R', 'A'};
    std::copy(signature.begin(), signature.end(), firmware.begin() + 3);
    firmware[17] = 0x31;
    const Case cases[] = {
        {"the firmware it runs", {}, true, 0x2F},
        {"a camera firmware", firmware, true, 0x31},
        {"no known program", Bytes(64, 0x22), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraConfig description = CameraConfig::usb2Camera(0x0801);
        description.firmwareVersion = 0x2F;
        libusb_device_handle* handle = plugIn(description);
        const PortAddress port = camera->address();
        const int number = camera->deviceNumber();
        EXPECT_EQ(vendorOut(handle, 0xA0, 0xE600, 0, {1}), 1);
        if (!c.program.empty()) {
            EXPECT_EQ(vendorOut(handle, 0xA0, 0x0000, 0, c.program), 64);
        }
        EXPECT_EQ(vendorOut(handle, 0xA0, 0xE600, 0, {0}), 1);

        Bytes reply;
        if (!c.comesBack) {
            EXPECT_TRUE(camera->fx2Crashed());
            EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2, 100), LIBUSB_ERROR_TIMEOUT);
            EXPECT_EQ(readIn(handle, 0xA0, 0x0000, 0, 1), Bytes{0x22}) << "RAM access is the chip's own";
            bus_.replug(*camera);
            EXPECT_EQ(readIn(open(*camera), 0xAD, 0, 0, 2), (Bytes{'V', 0x2F})) << "until replugged";
        } else {
            // Back when libusb lists the new device, not just when the number changes.
            for (int wait = 0; wait < 200 && (camera->deviceNumber() == number || !findDevice(*camera)); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_EQ(camera->address(), port);
            EXPECT_NE(camera->deviceNumber(), number);
            EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2), LIBUSB_ERROR_NO_DEVICE);
            EXPECT_EQ(readIn(open(*camera), 0xAD, 0, 0, 2), (Bytes{'V', c.version}));
            EXPECT_EQ(camera->readControllerRam(3, 14), signature) << "RAM kept";
        }
        bus_.unplug(*camera);
    }
}

TEST_F(RequestTest, Fx2BootsACameraFirmwareFromItsEeprom)
{
    plugIn(CameraConfig::usb2Camera(0x0801));
    // A boot image with one record: the camera firmware's identification.
    Bytes image{0xC2, 0x7E, 0x3A, 0x01, 0x08, 0x01, 0x00, 0x04, 0x00, 0x12, 0x00, 0x00, 0x02, 0x00, 0x80};
    for (char letter : std::string("ORU-FX2-CAMERA"))
        image.push_back(static_cast<uint8_t>(letter));
    image.push_back(0x33);
    image.insert(image.end(), {0x80, 0x01, 0xE6, 0x00, 0x00});
    camera->writeEeprom(0, 0, image);
    bus_.replug(*camera);
    EXPECT_EQ(readIn(open(*camera), 0xAD, 0, 0, 2), (Bytes{'V', 0x33}));
}

TEST_F(RequestTest, Fx3BootLoader)
{
    CameraConfig config;
    config.controller = ControllerKind::FX3BootLoader;
    libusb_device_handle* handle = plugIn(config);
    EXPECT_EQ(readIn(handle, 0xA0, 0, 0, 1).size(), 1u) << "boot loader probe";
    Bytes code{0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(vendorOut(handle, 0xA0, 0x0010, 0x4000, code), 4);  // address 0x40000010
    EXPECT_EQ(readIn(handle, 0xA0, 0x0010, 0x4000, 4), code);
    EXPECT_EQ(camera->readControllerRam(0x40000010, 4), code);
    EXPECT_FALSE(camera->programEntry());
    EXPECT_EQ(vendorOut(handle, 0xA0, 0x1234, 0x4000), 0);
    EXPECT_EQ(camera->programEntry(), 0x40001234u);
    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2), LIBUSB_ERROR_PIPE) << "boot loader knows only 0xA0";
}

TEST_F(RequestTest, RequestLogRecordsWhatCrossedTheWire)
{
    libusb_device_handle* handle = plugIn();
    camera->clearRequests();
    EXPECT_EQ(vendorOut(handle, 0xC2, 0, 0x0012, {9, 8, 7}), 3);
    readIn(handle, 0xAD, 0, 0, 2);
    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0x42, 1, 2, reply, 4), LIBUSB_ERROR_PIPE);

    std::vector<ControlRequest> log = camera->requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].setup.requestType, 0x40);
    EXPECT_EQ(log[0].setup.request, 0xC2);
    EXPECT_EQ(log[0].setup.index, 0x0012);
    EXPECT_EQ(log[0].setup.length, 3);
    EXPECT_EQ(log[0].data, (Bytes{9, 8, 7}));
    EXPECT_EQ(log[0].outcome, RequestOutcome::Completed);
    EXPECT_EQ(log[1].setup.requestType, 0xC0);
    EXPECT_EQ(log[1].data, (Bytes{'V', 0x30}));
    EXPECT_EQ(log[2].setup.value, 1);
    EXPECT_EQ(log[2].setup.index, 2);
    EXPECT_TRUE(log[2].data.empty());
    EXPECT_EQ(log[2].outcome, RequestOutcome::Stalled);
    EXPECT_EQ(camera->requests(0xAD).size(), 1u);

    camera->clearRequests();
    EXPECT_TRUE(camera->requests().empty());
}
