// The usbfs side of one attached simulated device: answers the ioctls libusb
// sends on the device node (through umockdev's ioctl emulation), keeps the
// URBs each client (open file) has in flight, hands control URBs to the camera
// model and parks bulk-IN URBs until the camera's data source fills them.
//
// ioctls arrive on umockdev's thread; completeNext may come from any thread.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <umockdev.h>

#include "sim/BulkTransferPort.h"
#include "sim/WakePipe.h"

namespace oru_sim {

class SimulatedCamera;

class UsbFsDevice : public BulkTransferPort {
public:
    // Creates the FIFO device node at `nodePath` (inside the testbed).
    UsbFsDevice(SimulatedCamera& camera, const std::string& nodePath);
    ~UsbFsDevice() override;
    UsbFsDevice(const UsbFsDevice&) = delete;
    UsbFsDevice& operator=(const UsbFsDevice&) = delete;

    // The ioctl handler to attach to the device node.
    UMockdevIoctlBase* handler() const { return handler_; }
    // The device is pulled out: pending URBs end with -ESHUTDOWN and become
    // reapable; every later ioctl but the reaping of those fails with ENODEV.
    void disconnect();

    size_t waitingTransfers() override;
    std::optional<size_t> nextCapacity() const override;
    bool completeNext(const BulkFill& fill) override;
    bool stallNext() override;

private:
    struct Urb;
    struct Client;

    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    static void onClientConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);

    void handleIoctl(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void submitControl(UMockdevIoctlClient* client, std::unique_ptr<Urb> urb);
    void reap(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    void answerCapabilities(UMockdevIoctlClient* client);
    void finish(std::unique_ptr<Urb> urb, int status, int actualLength);  // with mutex_ held
    bool clientSharesOurMemory(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    // With mutex_ held; the dropped URBs are to be freed after it is let go.
    void dropClosedClients(std::vector<std::unique_ptr<Urb>>& dropped);

    SimulatedCamera& camera_;
    UMockdevIoctlBase* handler_;
    std::vector<gulong> signalIds_;

    mutable std::mutex mutex_;
    WakePipe wakePipe_;
    bool gone_ = false;
    std::map<UMockdevIoctlClient*, std::unique_ptr<Client>> clients_;
    std::deque<std::unique_ptr<Urb>> bulkWaiting_;
    std::vector<std::unique_ptr<Urb>> unanswered_;
    size_t reapable_ = 0;
};

}  // namespace oru_sim
