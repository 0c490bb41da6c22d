#include "tools/sapp-host/records/Zlib.h"

#include <zlib.h>

#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

std::string deflateBytes(std::string_view bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                 static_cast<uLong>(bytes.size())) != Z_OK) {
        throw InputError("zlib compression failed");
    }
    out.resize(size);
    return out;
}

std::optional<std::string> inflateExactly(std::string_view bytes, uint32_t length) {
    // The stand-in host's decompression, so that what sapp-host shows as
    // decompressed is what the module is given; it answers a failure (or a
    // length of 0) with an empty string. Not through UnZipString: that is
    // the module's host call, which a fault may make fail.
    std::string out = standin::unzipString(std::string(bytes), length);
    if (out.empty()) return std::nullopt;
    return out;
}

}  // namespace sapphost
