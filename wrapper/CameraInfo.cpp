#include "wrapper/CameraInfo.h"

#include <cstring>
#include <sstream>

namespace tav_oru {

namespace {

bool is_true(ORU_BOOL flag)
{
    return flag == ORU_TRUE;
}

void write_flag(std::ostream &out, const char *label, bool flag)
{
    out << label << (flag ? ": * | " : ": - | ");
}

} // namespace

CameraInfo CameraInfo::from_native(const ORU_CAMERA_INFO &record)
{
    CameraInfo info;
    info.name.assign(record.name, strnlen(record.name, sizeof record.name));
    info.camera_id = record.camera_id;
    info.max_height = record.max_height;
    info.max_width = record.max_width;
    info.is_color = is_true(record.is_color);
    const int bayer = static_cast<int>(record.bayer);
    info.bayer = bayer >= ORU_BAYER_RG && bayer <= ORU_BAYER_GB
                     ? static_cast<BayerPattern>(bayer + 1)
                     : BayerPattern::None;
    for (int32_t bin : record.supported_bins) {
        if (bin == 0)
            break;
        info.supported_bins.insert(bin);
    }
    for (ORU_IMG_TYPE type : record.supported_image_types) {
        if (type == ORU_IMG_END)
            break;
        if (type >= ORU_IMG_RAW8 && type <= ORU_IMG_Y8)
            info.supported_image_types.insert(static_cast<ImageType>(type));
    }
    info.pixel_size_um = record.pixel_size_um;
    info.mechanical_shutter = record.mechanical_shutter != ORU_FALSE;
    info.st4_port = is_true(record.st4_port);
    info.has_cooler = is_true(record.has_cooler);
    info.is_usb3_host = is_true(record.is_usb3_host);
    info.is_usb3 = is_true(record.is_usb3);
    info.elec_per_adu = record.elec_per_adu;
    info.bit_depth = record.bit_depth;
    info.is_trigger = is_true(record.is_trigger);
    return info;
}

std::string CameraInfo::to_string() const
{
    std::ostringstream out;
    out << name << " (id: " << camera_id << ")\n";
    out << "max heigth: (" << max_height << ") | max width: (" << max_width << ") |\n";
    write_flag(out, "colored", is_color);
    write_flag(out, "mechanical shuttger", mechanical_shutter);
    write_flag(out, "st4 port", st4_port);
    out << "\n";
    write_flag(out, "has cooler", has_cooler);
    write_flag(out, "is usb3 host", is_usb3_host);
    write_flag(out, "is usb3", is_usb3);
    out << "\n";
    write_flag(out, "is triggered camera", is_trigger);
    out << "bayer pattern: " << tav_oru::to_string(bayer) << "\n";
    out << "supported bins: ";
    for (int bin : supported_bins)
        out << bin << " ";
    out << "\n";
    out << "supported image types: ";
    for (ImageType type : supported_image_types)
        out << tav_oru::to_string(type) << " ";
    out << "\n";
    out << "pixel size (um): " << pixel_size_um << " | elec per ADU: " << elec_per_adu
        << " | bit depth: " << bit_depth << "\n";
    return out.str();
}

} // namespace tav_oru
