// uid narrowing and decompression.
//
// UnZipString expects one complete zlib stream (RFC 1950, as zlib's
// compress() writes it) that inflates to exactly the given length; trailing
// bytes after the stream are refused. The length is capped at
// kMaxUnzippedLength (64 MiB) so that a corrupt length cannot make the host
// allocate without bound. An empty string means failure (or an empty result).

#include <limits>
#include <new>

#include <zlib.h>

#include "host/Pktcore.h"

namespace {

constexpr unsigned int kMaxUnzippedLength = 64u * 1024 * 1024;

// Inflates `data` into `out`, which already has the expected size; true when
// the stream ends exactly at the end of both.
bool inflateExactly(const std::string& data, std::string& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.avail_in == 0 && stream.avail_out == 0;
    inflateEnd(&stream);
    return complete;
}

}  // namespace

uint32_t ProtoHelper::getUid32(uint64_t uid) { return static_cast<uint32_t>(uid); }

std::string ProtoHelper::UnZipString(std::string& data, unsigned int unzippedLength) {
    if (data.empty() || unzippedLength == 0 || unzippedLength > kMaxUnzippedLength) return {};
    if (data.size() > std::numeric_limits<uInt>::max()) return {};
    try {
        std::string out(unzippedLength, '\0');
        if (!inflateExactly(data, out)) return {};
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}
