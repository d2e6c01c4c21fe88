#include "sim/UsbFsDevice.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "sim/SimulatedCamera.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace oru_sim {

namespace {

// ThreadSanitizer cannot see how the client's memory is handed over: the
// client touches a URB, its buffer or the reaped URB pointer again only after
// the answer came over umockdev's socket. Our accesses to that memory are
// kept out of its view. Otherwise a use of the same bytes however much later
// (a frame ring slot read by another thread, a stack slot of the reaping
// thread reused for something else) is reported against them, often after
// their history is gone and no suppression can match.
class ClientMemoryUnseen {
public:
    ClientMemoryUnseen()
    {
#if defined(__SANITIZE_THREAD__)
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
    }
    ~ClientMemoryUnseen()
    {
#if defined(__SANITIZE_THREAD__)
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
#endif
    }
    ClientMemoryUnseen(const ClientMemoryUnseen&) = delete;
    ClientMemoryUnseen& operator=(const ClientMemoryUnseen&) = delete;
};

constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr size_t kSetupSize = 8;

uint16_t littleEndianWord(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void answer(UMockdevIoctlClient* client, int errorNumber)
{
    umockdev_ioctl_client_complete(client, errorNumber == 0 ? 0 : -1, errorNumber);
}

// Resolves a pointer inside `parent` to a local copy of `length` bytes; the
// copy lives as long as the parent.
uint8_t* resolveBytes(UMockdevIoctlData* parent, size_t offset, size_t length)
{
    UMockdevIoctlData* child = umockdev_ioctl_data_resolve(parent, offset, length, nullptr);
    if (!child)
        return nullptr;
    uint8_t* bytes = child->data;
    g_object_unref(child);
    return bytes;
}

template <typename Container, typename Predicate, typename Sink>
void moveMatching(Container& from, Predicate matches, Sink& into)
{
    auto end = std::stable_partition(from.begin(), from.end(), [&](const auto& item) { return !matches(item); });
    std::move(end, from.end(), std::back_inserter(into));
    from.erase(end, from.end());
}

}  // namespace

struct UsbFsDevice::Urb {
    Urb(UMockdevIoctlClient* owner, unsigned long address) : client(owner), clientAddress(address) {}
    ~Urb()
    {
        if (copy)
            g_object_unref(copy);
    }
    Urb(const Urb&) = delete;
    Urb& operator=(const Urb&) = delete;

    UMockdevIoctlClient* client;
    unsigned long clientAddress;        // where the URB lives in the client
    UMockdevIoctlData* copy = nullptr;  // umockdev's copy, for a client in another process
    usbdevfs_urb* urb = nullptr;        // the copy, or the client's URB itself
    uint8_t* buffer = nullptr;          // likewise for its buffer
    size_t capacity = 0;
};

struct UsbFsDevice::Client {
    explicit Client(UMockdevIoctlClient* owner) : client(static_cast<UMockdevIoctlClient*>(g_object_ref(owner))) {}
    ~Client() { g_object_unref(client); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    UMockdevIoctlClient* client;
    int sharesMemory = -1;  // unknown until its first URB
    std::deque<std::unique_ptr<Urb>> reapable;
};

UsbFsDevice::UsbFsDevice(SimulatedCamera& camera, const std::string& nodePath)
    : camera_(camera),
      handler_(umockdev_ioctl_base_new()),
      wakePipe_(nodePath)
{
    signalIds_.push_back(g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this));
    signalIds_.push_back(g_signal_connect(handler_, "client-connected", G_CALLBACK(onClientConnected), this));
}

UsbFsDevice::~UsbFsDevice()
{
    for (gulong id : signalIds_)
        g_signal_handler_disconnect(handler_, id);
    clients_.clear();
    bulkWaiting_.clear();
    unanswered_.clear();
    g_object_unref(handler_);
}

gboolean UsbFsDevice::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    static_cast<UsbFsDevice*>(self)->handleIoctl(client);
    return TRUE;
}

void UsbFsDevice::onClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    auto* device = static_cast<UsbFsDevice*>(self);
    std::vector<std::unique_ptr<Urb>> dropped;
    std::lock_guard<std::mutex> lock(device->mutex_);
    device->dropClosedClients(dropped);
    device->clients_[client] = std::make_unique<Client>(client);
}

void UsbFsDevice::dropClosedClients(std::vector<std::unique_ptr<Urb>>& dropped)
{
    // umockdev does not tell when a client closes its file; its connection
    // shows it. A closed client's URBs are gone, as the kernel kills them.
    for (auto entry = clients_.begin(); entry != clients_.end();) {
        if (umockdev_ioctl_client_get_connected(entry->first)) {
            ++entry;
            continue;
        }
        UMockdevIoctlClient* closed = entry->first;
        auto ownedBy = [closed](const std::unique_ptr<Urb>& urb) { return urb->client == closed; };
        moveMatching(unanswered_, ownedBy, dropped);
        moveMatching(bulkWaiting_, ownedBy, dropped);
        reapable_ -= entry->second->reapable.size();
        std::move(entry->second->reapable.begin(), entry->second->reapable.end(), std::back_inserter(dropped));
        entry = clients_.erase(entry);
    }
    if (reapable_ == 0)
        wakePipe_.setReady(false);
}

void UsbFsDevice::handleIoctl(UMockdevIoctlClient* client)
{
    unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        reap(client);
        return;
    }
    bool gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gone = gone_;
    }
    if (gone) {
        answer(client, ENODEV);
        return;
    }
    switch (request) {
    case USBDEVFS_SUBMITURB: submit(client); break;
    case USBDEVFS_DISCARDURB: discard(client); break;
    case USBDEVFS_GET_CAPABILITIES: answerCapabilities(client); break;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        answer(client, ENODATA);  // no kernel driver bound
        break;
    case USBDEVFS_RESET:
        camera_.noteDeviceReset();
        answer(client, 0);
        break;
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_CLEAR_HALT: answer(client, 0); break;
    default: answer(client, ENOTTY); break;
    }
}

void UsbFsDevice::submit(UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto urb = std::make_unique<Urb>(client, *reinterpret_cast<unsigned long*>(arg->data));
    if (clientSharesOurMemory(client, arg)) {
        // Fastest path: work on the client's URB and buffer themselves.
        urb->urb = reinterpret_cast<usbdevfs_urb*>(urb->clientAddress);
    } else {
        urb->copy = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!urb->copy) {
            answer(client, EFAULT);
            return;
        }
        urb->urb = reinterpret_cast<usbdevfs_urb*>(urb->copy->data);
    }
    usbdevfs_urb request;
    {
        ClientMemoryUnseen unseen;
        request = *urb->urb;
    }
    if (request.buffer_length < 0) {
        answer(client, EINVAL);
        return;
    }
    urb->capacity = static_cast<size_t>(request.buffer_length);
    if (!urb->copy)
        urb->buffer = static_cast<uint8_t*>(request.buffer);
    else if (urb->capacity > 0)
        urb->buffer = resolveBytes(urb->copy, offsetof(usbdevfs_urb, buffer), urb->capacity);
    if (urb->capacity > 0 && !urb->buffer) {
        answer(client, EFAULT);
    } else if (request.type == USBDEVFS_URB_TYPE_CONTROL) {
        submitControl(client, std::move(urb));
    } else if (request.type != USBDEVFS_URB_TYPE_BULK) {
        answer(client, EINVAL);
    } else if (request.endpoint != camera_.config().bulkEndpoint) {
        answer(client, ENOENT);
    } else {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bulkWaiting_.push_back(std::move(urb));
        }
        answer(client, 0);
        camera_.bulkTransferQueued();
    }
}

void UsbFsDevice::submitControl(UMockdevIoctlClient* client, std::unique_ptr<Urb> urb)
{
    if (urb->capacity < kSetupSize) {
        answer(client, EINVAL);
        return;
    }
    SetupPacket setup;
    {
        ClientMemoryUnseen unseen;
        const uint8_t* bytes = urb->buffer;
        setup = SetupPacket{bytes[0], bytes[1], littleEndianWord(bytes + 2), littleEndianWord(bytes + 4),
                            littleEndianWord(bytes + 6)};
    }
    if (kSetupSize + setup.length > urb->capacity) {
        answer(client, EINVAL);
        return;
    }
    uint8_t* stage = urb->buffer + kSetupSize;
    std::vector<uint8_t> data;
    if (!setup.deviceToHost()) {
        ClientMemoryUnseen unseen;
        data.assign(stage, stage + setup.length);
    }

    ControlAnswer result = camera_.handleControlRequest(setup, data);

    std::lock_guard<std::mutex> lock(mutex_);
    if (result == ControlAnswer::Ack) {
        size_t moved = setup.length;
        if (setup.deviceToHost()) {
            moved = std::min<size_t>(data.size(), setup.length);
            ClientMemoryUnseen unseen;
            std::copy_n(data.begin(), moved, stage);
        }
        finish(std::move(urb), 0, static_cast<int>(moved));
    } else if (result == ControlAnswer::Stall) {
        finish(std::move(urb), -EPIPE, 0);
    } else {
        unanswered_.push_back(std::move(urb));
    }
    answer(client, 0);
}

bool UsbFsDevice::clientSharesOurMemory(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = clients_.find(client);
        if (found == clients_.end())
            return false;
        if (found->second->sharesMemory >= 0)
            return found->second->sharesMemory == 1;
    }
    // A client in this process has its URB at the same address with the
    // same bytes; another process's URB address is not even mapped here.
    UMockdevIoctlData* copy = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!copy)
        return false;
    usbdevfs_urb ours;
    iovec local{&ours, sizeof ours};
    iovec remote{reinterpret_cast<void*>(copy->client_addr), sizeof ours};
    bool same = process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(sizeof ours) &&
                std::memcmp(&ours, copy->data, sizeof ours) == 0;
    g_object_unref(copy);
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = clients_.find(client);
    if (found != clients_.end())
        found->second->sharesMemory = same ? 1 : 0;
    return same;
}

void UsbFsDevice::finish(std::unique_ptr<Urb> urb, int status, int actualLength)
{
    auto owner = clients_.find(urb->client);
    if (owner == clients_.end())
        return;
    {
        ClientMemoryUnseen unseen;
        urb->urb->status = status;
        urb->urb->actual_length = actualLength;
    }
    owner->second->reapable.push_back(std::move(urb));
    if (reapable_++ == 0)
        wakePipe_.setReady(true);
}

void UsbFsDevice::reap(UMockdevIoctlClient* client)
{
    std::unique_ptr<Urb> urb;
    int errorNumber = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto owner = clients_.find(client);
        if (owner == clients_.end() || owner->second->reapable.empty()) {
            errorNumber = gone_ ? ENODEV : EAGAIN;
        } else {
            urb = std::move(owner->second->reapable.front());
            owner->second->reapable.pop_front();
            if (--reapable_ == 0)
                wakePipe_.setReady(false);
        }
    }
    if (!urb) {
        answer(client, errorNumber);
        return;
    }
    // The argument points to the client's URB pointer: aim it at the URB.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (!urb->copy) {
        ClientMemoryUnseen unseen;
        *reinterpret_cast<void**>(*reinterpret_cast<unsigned long*>(arg->data)) =
            reinterpret_cast<void*>(urb->clientAddress);
        answer(client, 0);
        return;
    }
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (!pointer) {
        answer(client, EFAULT);
        return;
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->copy);
    g_object_unref(pointer);
    answer(client, 0);
}

void UsbFsDevice::discard(UMockdevIoctlClient* client)
{
    unsigned long address = *reinterpret_cast<unsigned long*>(umockdev_ioctl_client_get_arg(client)->data);
    auto matches = [client, address](const std::unique_ptr<Urb>& urb) {
        return urb->client == client && urb->clientAddress == address;
    };
    std::lock_guard<std::mutex> lock(mutex_);
    std::unique_ptr<Urb> urb;
    auto waiting = std::find_if(bulkWaiting_.begin(), bulkWaiting_.end(), matches);
    if (waiting != bulkWaiting_.end()) {
        urb = std::move(*waiting);
        bulkWaiting_.erase(waiting);
    }
    auto unanswered = std::find_if(unanswered_.begin(), unanswered_.end(), matches);
    if (!urb && unanswered != unanswered_.end()) {
        urb = std::move(*unanswered);
        unanswered_.erase(unanswered);
    }
    if (!urb) {
        answer(client, EINVAL);  // done already (or being filled): it will be reaped
        return;
    }
    finish(std::move(urb), -ENOENT, 0);
    answer(client, 0);
}

void UsbFsDevice::answerCapabilities(UMockdevIoctlClient* client)
{
    uint8_t* capabilities = resolveBytes(umockdev_ioctl_client_get_arg(client), 0, sizeof(uint32_t));
    if (!capabilities) {
        answer(client, EFAULT);
        return;
    }
    std::memcpy(capabilities, &kCapabilities, sizeof kCapabilities);
    answer(client, 0);
}

void UsbFsDevice::disconnect()
{
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    while (!bulkWaiting_.empty()) {
        finish(std::move(bulkWaiting_.front()), -ESHUTDOWN, 0);
        bulkWaiting_.pop_front();
    }
    for (auto& urb : unanswered_)
        finish(std::move(urb), -ESHUTDOWN, 0);
    unanswered_.clear();
}

size_t UsbFsDevice::waitingTransfers()
{
    std::vector<std::unique_ptr<Urb>> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    dropClosedClients(dropped);
    return bulkWaiting_.size();
}

std::optional<size_t> UsbFsDevice::nextCapacity() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_ || bulkWaiting_.empty())
        return std::nullopt;
    return bulkWaiting_.front()->capacity;
}

bool UsbFsDevice::completeNext(const BulkFill& fill)
{
    std::vector<std::unique_ptr<Urb>> dropped;
    std::unique_ptr<Urb> urb;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropClosedClients(dropped);
        if (gone_ || bulkWaiting_.empty())
            return false;
        urb = std::move(bulkWaiting_.front());
        bulkWaiting_.pop_front();
    }
    size_t written = 0;
    if (urb->capacity > 0) {
        ClientMemoryUnseen unseen;
        written = std::min(fill(urb->buffer, urb->capacity), urb->capacity);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finish(std::move(urb), 0, static_cast<int>(written));
    return true;
}

bool UsbFsDevice::stallNext()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_ || bulkWaiting_.empty())
        return false;
    std::unique_ptr<Urb> urb = std::move(bulkWaiting_.front());
    bulkWaiting_.pop_front();
    finish(std::move(urb), -EPIPE, 0);
    return true;
}

}  // namespace oru_sim
