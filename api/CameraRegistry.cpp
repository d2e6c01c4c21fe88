#include "api/CameraRegistry.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "api/CameraLockSet.h"
#include "api/ProductTable.h"
#include "engine/CCameraBase.h"
#include "log/DbgPrint.h"
#include "transport/SectionLock.h"

namespace {

constexpr int kMaxPortNumbers = 8;
constexpr int kPropertyLock = 0;
// Initialisation sets the camera up from scratch: no other call on it may
// overlap, so it takes every lock (its own inner calls take theirs again).
constexpr int kInitLock = CameraLockSet::kEveryLock;
constexpr int kFirmwareAttempts = 3;

struct ConnectedList {
    int count = 0;
    char paths[kMaxCameras][kDevicePathSize] = {};
    int productIds[kMaxCameras] = {};
};

// Enumeration, open and close; recursive because enumeration closes cameras
// that went away and the property query opens and closes.
struct RegistryLock {
    RegistryLock() { InitializeCriticalSection(&section); }
    // Never destroyed: a camera closed at process exit still takes it.
    S_MUTEX_UNIX section;
} g_registry;
char g_slots[kMaxCameras][kDevicePathSize];
// Whether a slot holds a path, readable by flat calls without the registry lock.
std::atomic<bool> g_slotUsed[kMaxCameras];
std::atomic<CCameraBase *> g_cameras[kMaxCameras];
CameraLockSet g_lockSets[kMaxCameras];
ConnectedList g_connected ORU_GUARDED_BY(g_registry.section);

void FormatDevicePath(libusb_device *device, char *path)
{
    uint8_t ports[kMaxPortNumbers] = {};
    const int portCount = libusb_get_port_numbers(device, ports, kMaxPortNumbers);
    int used = snprintf(path, kDevicePathSize, "bus%d.port:", libusb_get_bus_number(device));
    for (int i = 0; i < portCount && used < kDevicePathSize - 1; ++i)
        used += snprintf(path + used, kDevicePathSize - used, "%d,", ports[i]);
}

void SetSlot(int slot, const char *path)
{
    if (path == nullptr) {
        g_slots[slot][0] = '\0';
        g_slotUsed[slot].store(false);
    } else {
        memcpy(g_slots[slot], path, kDevicePathSize);
        g_slotUsed[slot].store(path[0] != '\0');
    }
}

int ConnectedIndexOfPath(const char *path) ORU_REQUIRES(g_registry.section)
{
    for (int i = 0; i < g_connected.count; ++i)
        if (strcmp(g_connected.paths[i], path) == 0)
            return i;
    return -1;
}

// Keeps the IDs of devices that stayed on their ports, frees the others and
// gives new devices the lowest free IDs.
void FindDevPathIndex() ORU_REQUIRES(g_registry.section)
{
    bool slotPresent[kMaxCameras] = {};
    bool deviceIsNew[kMaxCameras] = {};
    for (int i = 0; i < g_connected.count; ++i) {
        int slot = 0;
        while (slot < kMaxCameras && strcmp(g_slots[slot], g_connected.paths[i]) != 0)
            ++slot;
        if (slot < kMaxCameras) {
            DbgPrint(LogSeverity::Debug, -1, "FindDevPathIndex", "index: %d, %s, ID: %d, %s\n", i,
                     g_connected.paths[i], slot, g_slots[slot]);
            slotPresent[slot] = true;
        } else {
            deviceIsNew[i] = true;
        }
    }
    for (int slot = 0; slot < kMaxCameras; ++slot)
        if (!slotPresent[slot])
            SetSlot(slot, nullptr);
    for (int i = 0; i < g_connected.count; ++i) {
        if (!deviceIsNew[i])
            continue;
        for (int slot = 0; slot < kMaxCameras; ++slot) {
            if (!g_slotUsed[slot].load()) {
                SetSlot(slot, g_connected.paths[i]);
                break;
            }
        }
    }
}

// An open camera that stopped answering, or whose port is no longer listed,
// is closed so that its ID can go to the next new device.
void RevalidateOpenCameras() ORU_REQUIRES(g_registry.section)
{
    for (int id = 0; id < kMaxCameras; ++id) {
        CCameraBase *camera = g_cameras[id].load();
        if (camera == nullptr)
            continue;
        bool answers = false;
        for (int attempt = 0; attempt < kFirmwareAttempts && !answers; ++attempt) {
            if (attempt > 0)
                usleep(50000);
            answers = camera->GetFirmwareVer().IsOk();
        }
        if (!answers)
            DbgPrint(LogSeverity::Error, -1, "ORUGetNumOfConnectedCameras",
                     "can't get FW version, close\n");
        if (!answers || ConnectedIndexOfPath(camera->GetDevicePath()) < 0) {
            DbgPrint(LogSeverity::Debug, -1, "ORUGetNumOfConnectedCameras",
                     "ORUGetNumOfConnectedCameras => ORUCloseCamera");
            ORUCloseCamera(id);
        }
    }
}

} // namespace

bool RegistryIdIsValid(int id)
{
    return id >= 0 && id < kMaxCameras && g_slotUsed[id].load();
}

bool RegistryEnter(int id, int lockNo)
{
    return g_lockSets[id].Enter(lockNo);
}

CCameraBase *RegistryCamera(int id)
{
    return g_cameras[id].load();
}

ORU_ERROR_CODE RegistryResult(CCameraBase *camera, ORU_ERROR_CODE result)
{
    return FlatErrorCode(result, CCameraFX3::LastUsbFailure(), camera->IsRemoved());
}

ORU_ERROR_CODE FlatErrorCode(ORU_ERROR_CODE result, const OruStatus &usbFailure, bool removed)
{
    struct UsbErrorCode {
        int iLibusbCode;
        ORU_ERROR_CODE eCode;
    };
    static const UsbErrorCode kUsbErrorCodes[] = {
        {LIBUSB_ERROR_NO_DEVICE, ORU_ERROR_CAMERA_REMOVED},
        {LIBUSB_ERROR_TIMEOUT, ORU_ERROR_TIMEOUT},
    };
    if (removed)
        return ORU_ERROR_CAMERA_REMOVED;
    if (result == ORU_SUCCESS)
        return result;
    for (const UsbErrorCode &entry : kUsbErrorCodes)
        if (entry.iLibusbCode == usbFailure.LibusbCode())
            return entry.eCode;
    return result;
}

void RegistryLeave(int id, int lockNo)
{
    g_lockSets[id].Leave(lockNo);
    usleep(1);
}

int ORUGetNumOfConnectedCameras(void)
{
    SectionLock lock(g_registry.section);
    DbgPrint(LogSeverity::Debug, -1, "ORUGetNumOfConnectedCameras",
             "ORUGetNumOfConnectedCameras >>\n");
    g_connected.count = 0;
    libusb_context *context = nullptr;
    if (libusb_init(&context) < 0) {
        DbgPrint(LogSeverity::Error, -1, "ORUGetNumOfConnectedCameras", "libusb_init fail!\n");
        return 0;
    }
    DbgPrint(LogSeverity::Debug, -1, "ORUGetNumOfConnectedCameras", "libusb_init OK\n");

    libusb_device **devices = nullptr;
    const ssize_t deviceCount = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < deviceCount; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) < 0) {
            fprintf(stderr, "failed to get device descriptor");
            libusb_free_device_list(devices, 1);
            libusb_exit(context);
            return 0;
        }
        if (!IsSupportedProduct(descriptor.idVendor, descriptor.idProduct) ||
            g_connected.count >= kMaxCameras)
            continue;
        char *path = g_connected.paths[g_connected.count];
        FormatDevicePath(devices[i], path);
        DbgPrint(LogSeverity::Debug, -1, "ORUGetNumOfConnectedCameras", "%04x:%04x %s\n",
                 descriptor.idVendor, descriptor.idProduct, path);
        g_connected.productIds[g_connected.count] = descriptor.idProduct;
        ++g_connected.count;
    }
    if (deviceCount >= 0)
        libusb_free_device_list(devices, 1);

    RevalidateOpenCameras();
    FindDevPathIndex();

    libusb_exit(context);
    DbgPrint(LogSeverity::Debug, -1, "ORUGetNumOfConnectedCameras", "libusb_exit\n");
    DbgPrint(LogSeverity::Debug, -1, "ORUGetNumOfConnectedCameras", "num %d <<\n",
             g_connected.count);
    return g_connected.count;
}

ORU_ERROR_CODE ORUOpenCamera(int id)
{
    SectionLock lock(g_registry.section);
    DbgPrint(LogSeverity::Info, -1, "ORUOpenCamera", "camera ID:%d >>\n", id);
    if (!RegistryIdIsValid(id))
        return ORU_ERROR_ID;
    if (g_cameras[id].load() != nullptr) {
        DbgPrint(LogSeverity::Warning, -1, "ORUOpenCamera", "camera of ID%d is already opened\n",
                 id);
        return ORU_SUCCESS;
    }
    const int listIndex = ConnectedIndexOfPath(g_slots[id]);
    if (listIndex < 0)
        return ORU_ERROR_ID;

    const int productId = g_connected.productIds[listIndex];
    CCameraBase *camera = mallocCamera(productId);
    if (camera == nullptr) {
        DbgPrint(LogSeverity::Error, -1, "mallocCamera", "memory fail\n");
        return ORU_ERROR_GENERAL_ERROR;
    }
    camera->SetDevicePath(g_slots[id]);

    int sameProductBefore = 0;
    for (int i = 0; i < listIndex; ++i)
        if (g_connected.productIds[i] == productId)
            ++sameProductBefore;
    if (!camera->OpenCamera(sameProductBefore + 1)) {
        delete camera;
        DbgPrint(LogSeverity::Error, -1, "ORUOpenCamera", "pCamera iCameraID=%d deleted\n", id);
        return ORU_ERROR_CAMERA_REMOVED;
    }
    g_cameras[id].store(camera);

    DbgPrint(LogSeverity::Debug, -1, "ORUOpenCamera", "iPtIndex%d: %s\n", id, g_slots[id]);
    g_lockSets[id].Create();
    DbgPrint(LogSeverity::Info, -1, "ORUOpenCamera", "pCamera iCameraID=%d is opened\n", id);
    return ORU_SUCCESS;
}

ORU_ERROR_CODE ORUCloseCamera(int id)
{
    SectionLock lock(g_registry.section);
    DbgPrint(LogSeverity::Info, -1, "ORUCloseCamera", "camera ID:%d >>\n", id);
    if (!RegistryIdIsValid(id))
        return ORU_ERROR_ID;
    CameraLockSet &locks = g_lockSets[id];
    if (g_cameras[id].load() == nullptr || !locks.IsReady())
        return ORU_SUCCESS;

    locks.LockAll();
    if (!locks.IsReady()) {
        locks.UnlockAll();
        return ORU_SUCCESS;
    }
    CCameraBase *camera = g_cameras[id].exchange(nullptr);
    camera->CloseCamera();
    delete camera;
    DbgPrint(LogSeverity::Info, -1, "ORUCloseCamera", "pCamera iCameraID=%d deleted\n", id);
    locks.DestroyLocked();
    return ORU_SUCCESS;
}

ORU_ERROR_CODE ORUGetCameraProperty(ORU_CAMERA_INFO *info, int index)
{
    if (info == nullptr)
        return ORU_ERROR_GENERAL_ERROR;
    SectionLock lock(g_registry.section);
    if (index < 0 || index >= g_connected.count)
        return ORU_ERROR_INVALID_INDEX;
    DbgPrint(LogSeverity::Debug, -1, "ORUGetCameraProperty", "ORUGetCameraProperty idx%d >>\n",
             index);

    int slot = 0;
    while (slot < kMaxCameras && strcmp(g_slots[slot], g_connected.paths[index]) != 0)
        ++slot;
    if (slot == kMaxCameras)
        return ORU_ERROR_INVALID_INDEX;
    DbgPrint(LogSeverity::Debug, -1, "FindDevPathIndex", "index: %d, %s, ID: %d, %s\n", index,
             g_connected.paths[index], slot, g_slots[slot]);
    info->camera_id = slot;

    const bool wasOpen = g_cameras[slot].load() != nullptr;
    DbgPrint(LogSeverity::Debug, -1, "ORUGetCameraProperty",
             "ORUGetCameraProperty => ORUOpenCamera");
    const ORU_ERROR_CODE opened = ORUOpenCamera(slot);
    ORU_ERROR_CODE result = CameraCall(slot, kPropertyLock, [info, slot](CCameraBase *camera) {
        camera->GetCameraProperty(info);
        info->camera_id = slot;
        return ORU_SUCCESS;
    });
    if (result == ORU_ERROR_CAMERA_CLOSED || result == ORU_ERROR_ID)
        result = opened != ORU_SUCCESS ? opened : result;
    if (!wasOpen)
        ORUCloseCamera(slot);
    DbgPrint(LogSeverity::Debug, -1, "ORUGetCameraProperty", "ORUGetCameraProperty idx%d <<\n",
             index);
    return result;
}

ORU_ERROR_CODE ORUGetCameraPropertyByID(int id, ORU_CAMERA_INFO *info)
{
    if (info == nullptr)
        return RegistryIdIsValid(id) ? ORU_ERROR_GENERAL_ERROR : ORU_ERROR_ID;
    return CameraCall(id, 43, [info, id](CCameraBase *camera) {
        camera->GetCameraProperty(info);
        info->camera_id = id;
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUInitCamera(int id)
{
    DbgPrint(LogSeverity::Info, -1, "ORUInitCamera", "camera ID:%d >>\n", id);
    return CameraCall(id, kInitLock, [id](CCameraBase *camera) {
        if (!camera->InitCamera())
            return ORU_ERROR_GENERAL_ERROR;
        ORUSetROIFormat(id, camera->Model().m_iMaxWidth, camera->Model().m_iMaxHeight, 1,
                        ORU_IMG_RAW8);
        ORU_ID serial{};
        ORUGetSerialNumber(id, &serial);
        DbgPrint(LogSeverity::Info, -1, "ORUInitCamera", "SN:%02x%02x%02x%02x%02x%02x%02x%02x\n",
                 serial.id[0], serial.id[1], serial.id[2], serial.id[3], serial.id[4], serial.id[5],
                 serial.id[6], serial.id[7]);
        return ORU_SUCCESS;
    });
}

int ORUGetProductIDs(int *product_ids)
{
    if (product_ids != nullptr)
        for (int i = 0; i < ORU_PRODUCT_ID_COUNT; ++i)
            product_ids[i] = kProductTable[i].iProductId;
    return ORU_PRODUCT_ID_COUNT;
}

int ORUCameraCheck(int vid, int pid)
{
    return IsSupportedProduct(vid, pid) ? 1 : 0;
}
