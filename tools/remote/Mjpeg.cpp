#include "tools/remote/Mjpeg.h"

namespace remote {

std::string MjpegPart(std::span<const uint8_t> jpeg) {
    std::string part = "--";
    part += kMjpegBoundary;
    part += "\r\nContent-Type: image/jpeg\r\nContent-Length: ";
    part += std::to_string(jpeg.size());
    part += "\r\n\r\n";
    part.append(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
    part += "\r\n";
    return part;
}

}  // namespace remote
