// indi_oru_ccd: one INDI device per camera plugged in when the driver starts.
// libindidriver supplies main() and the event loop and dispatches the
// clients' requests to every device created here.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ORUCamera.h"
#include "OruCcd.h"

namespace {

class CameraLoader {
public:
    CameraLoader()
    {
        std::vector<ORU_CAMERA_INFO> cameras;
        const int count = ORUGetNumOfConnectedCameras();
        for (int index = 0; index < count; ++index) {
            ORU_CAMERA_INFO info{};
            if (ORUGetCameraProperty(&info, index) == ORU_SUCCESS)
                cameras.push_back(info);
        }
        if (cameras.empty())
            std::fprintf(stderr, "indi_oru_ccd: no camera found\n");
        // In camera ID order, so that "... 2" stays the camera on the same port.
        std::sort(cameras.begin(), cameras.end(),
                  [](const ORU_CAMERA_INFO &a, const ORU_CAMERA_INFO &b) {
                      return a.camera_id < b.camera_id;
                  });
        std::map<std::string, int> models;
        for (const ORU_CAMERA_INFO &info : cameras) {
            std::string name = info.name;
            const int same = ++models[name];
            if (same > 1)
                name += " " + std::to_string(same);
            m_Devices.push_back(std::make_unique<oru_indi::OruCcd>(info, name));
        }
    }

private:
    std::vector<std::unique_ptr<oru_indi::OruCcd>> m_Devices;
};

CameraLoader loader;

} // namespace
