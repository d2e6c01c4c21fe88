#include "sim/SimulatedBus.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <umockdev.h>

#include "sim/UmockdevPreload.h"
#include "sim/UsbDescriptors.h"
#include "sim/UsbFsDevice.h"

namespace oru_sim {

namespace {

std::atomic<bool> busExists{false};

constexpr int kFirstDeviceNumber = 2;  // 1 belongs to the root hub
// How long a new FX2 firmware takes to leave the bus and come back.
constexpr auto kRenumerationDelay = std::chrono::milliseconds(50);
constexpr int kLastDeviceNumber = 127;

std::string hexText(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

std::string deviceNode(int bus, int deviceNumber)
{
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", bus, deviceNumber);
    return path;
}

// "/devices/usb1/1-2/1-2.3": every hub on the way is a directory level.
std::string sysfsPath(const PortAddress& address)
{
    std::string path = "/devices/usb" + std::to_string(address.bus);
    for (size_t depth = 1; depth <= address.ports.size(); ++depth) {
        PortAddress level{address.bus, std::vector<int>(address.ports.begin(), address.ports.begin() + depth)};
        path += "/" + level.sysfsName();
    }
    return path;
}

bool sharesPortChain(const PortAddress& a, const PortAddress& b)
{
    size_t common = std::min(a.ports.size(), b.ports.size());
    return a.bus == b.bus && std::equal(a.ports.begin(), a.ports.begin() + common, b.ports.begin());
}

constexpr const char* kOwnerFile = "oru-sim.owner";

// Testbeds of processes that died without cleaning up (a crashed test, a
// killed launcher) are found by the owner file each bus leaves in its own.
void removeAbandonedTestbeds(const std::filesystem::path& ours)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ours.parent_path(), error)) {
        const std::filesystem::path& path = entry.path();
        if (path == ours || path.filename().string().rfind("umockdev.", 0) != 0)
            continue;
        std::ifstream owner(path / kOwnerFile);
        long pid = 0;
        if (owner >> pid && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(path, error);
    }
}

void applyAllocatorAdvice()
{
    // Keep large transfer buffers on the heap: returning and re-faulting
    // them costs a tenth of the throughput now and then.
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    });
}

}  // namespace

class SimulatedBus::Impl {
public:
    Impl();
    ~Impl();

    SimulatedCamera& addCamera(const CameraConfig& config);
    void unplug(SimulatedCamera& camera);
    SimulatedCamera& replug(SimulatedCamera& camera, std::optional<PortAddress> address);
    // Leaves and comes back at the same port, later, on a thread of the bus.
    void scheduleRenumeration(SimulatedCamera& camera);
    std::vector<SimulatedCamera*> cameras() const;
    std::string rootDirectory() const { return root_; }

private:
    struct Attachment {
        SimulatedCamera* camera = nullptr;
        PortAddress address;
        int deviceNumber = 0;
        std::unique_ptr<UsbFsDevice> usb;
        bool plugged = false;
    };
    struct Hub {
        PortAddress address;
        int deviceNumber = 0;
    };

    void plug(SimulatedCamera& camera, const PortAddress& address);
    void pullOut(Attachment& attachment);
    Attachment* pluggedAttachment(const SimulatedCamera& camera);
    PortAddress freeRootPort() const;
    void checkFree(const PortAddress& address) const;
    void addHubsFor(const PortAddress& address, bool superSpeed);
    void removeUnusedHubs();
    int takeDeviceNumber(int bus);
    void addDevice(const std::string& description);
    void removeDevice(const PortAddress& address);
    std::string description(const PortAddress& address, int deviceNumber, bool superSpeed,
                            const std::vector<uint8_t>& descriptors) const;

    mutable std::mutex mutex_;
    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    std::vector<std::unique_ptr<SimulatedCamera>> cameras_;
    std::vector<std::unique_ptr<Attachment>> attachments_;  // pulled-out ones stay for their open files
    std::vector<Hub> hubs_;
    std::map<int, int> nextDeviceNumber_;
    std::map<int, std::vector<int>> usedDeviceNumbers_;
    uint16_t serialCounter_ = 0;

    std::mutex renumerationMutex_;
    std::vector<std::thread> renumerations_;  // joined when the bus goes
};

SimulatedBus::Impl::Impl()
{
    if (!UmockdevPreload::active())
        throw std::runtime_error(std::string("oru_sim::SimulatedBus needs umockdev's preload: run the program with "
                                             "LD_PRELOAD=") +
                                 UmockdevPreload::kLibrary +
                                 " (tests: register them with oru_add_sim_test(); programs: start them "
                                 "through oru-sim)");
    if (busExists.exchange(true))
        throw std::runtime_error("oru_sim::SimulatedBus: only one bus may exist per process");
    applyAllocatorAdvice();
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    std::ofstream(std::filesystem::path(root_) / kOwnerFile) << getpid() << "\n";
    removeAbandonedTestbeds(root_);
}

SimulatedBus::Impl::~Impl()
{
    // Waits for an unplug a camera's data source may be running.
    for (auto& camera : cameras_) {
        camera->setUnplugHandler(nullptr);
        camera->setRenumerateHandler(nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(renumerationMutex_);
        for (std::thread& renumeration : renumerations_)
            renumeration.join();
    }
    for (auto& attachment : attachments_)
        if (attachment->plugged)
            pullOut(*attachment);
    removeUnusedHubs();
    g_object_unref(testbed_);
    attachments_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    busExists = false;
}

SimulatedCamera& SimulatedBus::Impl::addCamera(const CameraConfig& config)
{
    std::lock_guard<std::mutex> lock(mutex_);
    CameraConfig plugged = config;
    if (!plugged.address)
        plugged.address = freeRootPort();
    plugged.address->validate();
    checkFree(*plugged.address);
    if (!plugged.serialNumber) {
        ++serialCounter_;
        plugged.serialNumber = SerialNumber{'O',
                                            'R',
                                            'U',
                                            'S',
                                            'I',
                                            'M',
                                            static_cast<uint8_t>(serialCounter_ >> 8),
                                            static_cast<uint8_t>(serialCounter_ & 0xFF)};
    }
    cameras_.push_back(std::make_unique<SimulatedCamera>(plugged));
    SimulatedCamera& camera = *cameras_.back();
    plug(camera, *plugged.address);
    return camera;
}

void SimulatedBus::Impl::unplug(SimulatedCamera& camera)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (Attachment* attachment = pluggedAttachment(camera)) {
        pullOut(*attachment);
        removeUnusedHubs();
    }
}

SimulatedCamera& SimulatedBus::Impl::replug(SimulatedCamera& camera, std::optional<PortAddress> address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    PortAddress target = address.value_or(camera.address());
    target.validate();
    if (Attachment* attachment = pluggedAttachment(camera)) {
        pullOut(*attachment);
        removeUnusedHubs();
    }
    checkFree(target);
    camera.powerCycle();
    plug(camera, target);
    return camera;
}

void SimulatedBus::Impl::scheduleRenumeration(SimulatedCamera& camera)
{
    std::lock_guard<std::mutex> lock(renumerationMutex_);
    renumerations_.emplace_back([this, &camera] {
        std::this_thread::sleep_for(kRenumerationDelay);
        std::lock_guard<std::mutex> busLock(mutex_);
        Attachment* attachment = pluggedAttachment(camera);
        if (!attachment)
            return;  // pulled out meanwhile
        PortAddress address = attachment->address;
        pullOut(*attachment);
        camera.renumerate();
        plug(camera, address);
    });
}

std::vector<SimulatedCamera*> SimulatedBus::Impl::cameras() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SimulatedCamera*> all;
    for (const auto& camera : cameras_)
        all.push_back(camera.get());
    return all;
}

void SimulatedBus::Impl::plug(SimulatedCamera& camera, const PortAddress& address)
{
    const CameraConfig& config = camera.config();
    addHubsFor(address, config.superSpeed);
    auto attachment = std::make_unique<Attachment>();
    attachment->camera = &camera;
    attachment->address = address;
    attachment->deviceNumber = takeDeviceNumber(address.bus);

    std::string node = deviceNode(address.bus, attachment->deviceNumber);
    std::filesystem::create_directories(std::filesystem::path(root_ + node).parent_path());
    attachment->usb = std::make_unique<UsbFsDevice>(camera, root_ + node);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), attachment->usb->handler(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot attach the ioctl handler to " + node + ": " + message);
    }
    camera.connect(attachment->usb.get(), address, attachment->deviceNumber);
    UsbDescriptors descriptors(config);
    addDevice(description(address, attachment->deviceNumber, config.superSpeed, descriptors.sysfsDescriptors()));
    attachment->plugged = true;
    attachments_.push_back(std::move(attachment));
}

void SimulatedBus::Impl::pullOut(Attachment& attachment)
{
    // Order matters: fail the URBs first, then tell udev, then remove the
    // device, then detach; a uevent after removal leaves a ghost in libusb.
    attachment.camera->disconnect();
    attachment.usb->disconnect();
    removeDevice(attachment.address);
    std::string node = deviceNode(attachment.address.bus, attachment.deviceNumber);
    umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
    unlink((root_ + node).c_str());
    auto& used = usedDeviceNumbers_[attachment.address.bus];
    used.erase(std::remove(used.begin(), used.end(), attachment.deviceNumber), used.end());
    attachment.plugged = false;
}

SimulatedBus::Impl::Attachment* SimulatedBus::Impl::pluggedAttachment(const SimulatedCamera& camera)
{
    for (auto& attachment : attachments_)
        if (attachment->plugged && attachment->camera == &camera)
            return attachment.get();
    return nullptr;
}

PortAddress SimulatedBus::Impl::freeRootPort() const
{
    for (int port = 1; port <= 255; ++port) {
        PortAddress candidate{1, {port}};
        bool taken = std::any_of(attachments_.begin(), attachments_.end(), [&](const auto& attachment) {
            return attachment->plugged && sharesPortChain(attachment->address, candidate);
        });
        if (!taken)
            return candidate;
    }
    throw std::invalid_argument("every port of bus 1 is taken");
}

void SimulatedBus::Impl::checkFree(const PortAddress& address) const
{
    for (const auto& attachment : attachments_)
        if (attachment->plugged && sharesPortChain(attachment->address, address))
            throw std::invalid_argument("port " + address.sysfsName() + " is taken by the camera at " +
                                        attachment->address.sysfsName());
}

void SimulatedBus::Impl::addHubsFor(const PortAddress& address, bool superSpeed)
{
    for (size_t depth = 1; depth < address.ports.size(); ++depth) {
        PortAddress hub{address.bus, std::vector<int>(address.ports.begin(), address.ports.begin() + depth)};
        if (std::any_of(hubs_.begin(), hubs_.end(), [&](const Hub& known) { return known.address == hub; }))
            continue;
        int deviceNumber = takeDeviceNumber(hub.bus);
        addDevice(description(hub, deviceNumber, superSpeed, UsbDescriptors::hubSysfsDescriptors(superSpeed)));
        hubs_.push_back(Hub{hub, deviceNumber});
    }
}

void SimulatedBus::Impl::removeUnusedHubs()
{
    // Deepest first, so that a hub goes after the hubs below it.
    std::sort(hubs_.begin(), hubs_.end(),
              [](const Hub& a, const Hub& b) { return a.address.ports.size() > b.address.ports.size(); });
    for (auto hub = hubs_.begin(); hub != hubs_.end();) {
        bool used = std::any_of(attachments_.begin(), attachments_.end(), [&](const auto& attachment) {
            return attachment->plugged && sharesPortChain(attachment->address, hub->address);
        });
        used = used || std::any_of(hubs_.begin(), hubs_.end(), [&](const Hub& other) {
                   return other.address.ports.size() > hub->address.ports.size() &&
                          sharesPortChain(other.address, hub->address);
               });
        if (used) {
            ++hub;
            continue;
        }
        removeDevice(hub->address);
        auto& numbers = usedDeviceNumbers_[hub->address.bus];
        numbers.erase(std::remove(numbers.begin(), numbers.end(), hub->deviceNumber), numbers.end());
        hub = hubs_.erase(hub);
    }
}

int SimulatedBus::Impl::takeDeviceNumber(int bus)
{
    // Like the kernel: the next number up, wrapping, skipping those in use.
    auto& used = usedDeviceNumbers_[bus];
    auto& next = nextDeviceNumber_.try_emplace(bus, kFirstDeviceNumber).first->second;
    for (int tries = 0; tries <= kLastDeviceNumber; ++tries) {
        int candidate = next;
        next = next == kLastDeviceNumber ? kFirstDeviceNumber : next + 1;
        if (std::find(used.begin(), used.end(), candidate) == used.end()) {
            used.push_back(candidate);
            return candidate;
        }
    }
    throw std::invalid_argument("bus " + std::to_string(bus) + " has no free device number");
}

std::string SimulatedBus::Impl::description(const PortAddress& address, int deviceNumber, bool superSpeed,
                                            const std::vector<uint8_t>& descriptors) const
{
    char numbers[16];
    std::snprintf(numbers, sizeof numbers, "%03d/%03d", address.bus, deviceNumber);
    std::string text(numbers);
    std::ostringstream out;
    out << "P: " << sysfsPath(address) << "\n"
        << "E: SUBSYSTEM=usb\n"
        << "E: DEVTYPE=usb_device\n"
        << "E: DEVNAME=" << deviceNode(address.bus, deviceNumber) << "\n"
        << "E: BUSNUM=" << text.substr(0, 3) << "\n"
        << "E: DEVNUM=" << text.substr(4, 3) << "\n"
        << "A: busnum=" << address.bus << "\n"
        << "A: devnum=" << deviceNumber << "\n"
        << "A: devpath=" << address.devpath() << "\n"
        << "A: speed=" << (superSpeed ? "5000" : "480") << "\n"
        << "A: bConfigurationValue=1\n"
        << "A: bNumConfigurations=1\n"
        << "H: descriptors=" << hexText(descriptors) << "\n";
    return out.str();
}

void SimulatedBus::Impl::addDevice(const std::string& description)
{
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot add a simulated device: " + message);
    }
}

void SimulatedBus::Impl::removeDevice(const PortAddress& address)
{
    std::string path = "/sys" + sysfsPath(address);
    umockdev_testbed_uevent(testbed_, path.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, path.c_str());
}

SimulatedBus::SimulatedBus() : impl_(std::make_unique<Impl>()) {}
SimulatedBus::~SimulatedBus() = default;

SimulatedCamera& SimulatedBus::addCamera(const CameraConfig& config)
{
    SimulatedCamera& camera = impl_->addCamera(config);
    // Set outside the bus lock: the handler takes it.
    Impl* impl = impl_.get();
    camera.setUnplugHandler([impl, &camera] { impl->unplug(camera); });
    camera.setRenumerateHandler([impl, &camera] { impl->scheduleRenumeration(camera); });
    return camera;
}
void SimulatedBus::unplug(SimulatedCamera& camera)
{
    impl_->unplug(camera);
}
SimulatedCamera& SimulatedBus::replug(SimulatedCamera& camera, std::optional<PortAddress> address)
{
    return impl_->replug(camera, std::move(address));
}
std::vector<SimulatedCamera*> SimulatedBus::cameras() const
{
    return impl_->cameras();
}
std::string SimulatedBus::rootDirectory() const
{
    return impl_->rootDirectory();
}

}  // namespace oru_sim
