#include "sim/ModelCatalog.h"

#include <cstdlib>
#include <stdexcept>

namespace oru_sim {

CameraSpec ModelCatalog::find(const std::string& model)
{
    char* end = nullptr;
    unsigned long productId = model.empty() ? 0 : std::strtoul(model.c_str(), &end, 0);
    if (model.empty() || *end != '\0' || model[0] == '-' || productId > 0xFFFF)
        throw std::invalid_argument("unknown camera model \"" + model +
                                    "\" (give a USB product ID such as 0x1001; see --list-models)");
    return CameraSpec::usb3Camera(static_cast<uint16_t>(productId));
}

std::vector<std::string> ModelCatalog::describe()
{
    return {"PRODUCT-ID  a SuperSpeed FX3 camera (vendor 0x3A7E) with that USB product ID, "
            "e.g. 0x1001 or 4097"};
}

}  // namespace oru_sim
