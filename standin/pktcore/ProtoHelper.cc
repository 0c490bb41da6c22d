// uid narrowing and decompression.
//
// UnZipString expects one complete zlib stream (RFC 1950, as zlib's
// compress() writes it) that inflates to exactly the given length; trailing
// bytes after the stream are refused. A length above the host's unzip limit
// (setUnzipLimit, 4 MiB by default) is refused before anything is read, and
// the output grows only as the stream delivers bytes: a small stream that
// claims a large length costs what it inflates to, never what it claims. An
// empty string means failure (or an empty result).

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>

#include <zlib.h>

#include "host/Pktcore.h"
#include "standin/pktcore/StandinSession.h"

namespace {

std::atomic<uint32_t> s_unzipLimit{standin::kDefaultUnzipLimit};
std::atomic<uint64_t> s_inflatedBytes{0};

// The first output block; each later one doubles what the stream has given
// so far, so the buffer is at most about twice the bytes inflated.
constexpr std::size_t kFirstBlock = 64 * 1024;

// Makes `out` `size` bytes long. A larger buffer is a fresh string of
// exactly that capacity (growing a string in place may double its capacity,
// past the claimed length).
void growTo(std::string& out, std::size_t size) {
    if (size <= out.capacity()) {
        out.resize(size);
        return;
    }
    std::string bigger;
    bigger.reserve(size);
    bigger.append(out);
    bigger.resize(size);
    out.swap(bigger);
}

// Inflates the whole of `data` into `out`; true when the stream ends exactly
// after `length` bytes and at the end of the input. `out` never holds more
// than `length` bytes, nor much more than the stream has delivered.
bool inflateExactly(const std::string& data, std::size_t length, std::string& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    bool complete = false;
    try {
        for (;;) {
            if (out.size() == length) {
                // All bytes are there: the stream must end now, without one
                // byte more and with no input left.
                Bytef probe = 0;
                stream.next_out = &probe;
                stream.avail_out = 1;
                const int result = inflate(&stream, Z_FINISH);
                complete = result == Z_STREAM_END && stream.avail_out == 1 && stream.avail_in == 0;
                break;
            }
            const std::size_t have = out.size();
            const std::size_t block = std::min(length - have, std::max(kFirstBlock, have));
            growTo(out, have + block);
            stream.next_out = reinterpret_cast<Bytef*>(out.data() + have);
            stream.avail_out = static_cast<uInt>(block);
            const int result = inflate(&stream, Z_NO_FLUSH);
            out.resize(have + block - stream.avail_out);
            if (result == Z_STREAM_END) {
                complete = out.size() == length && stream.avail_in == 0;
                break;
            }
            // Z_BUF_ERROR: no progress, the input ended inside the stream.
            if (result != Z_OK) break;
        }
    } catch (const std::bad_alloc&) {
        complete = false;
    }
    inflateEnd(&stream);
    return complete;
}

}  // namespace

namespace standin {

void setUnzipLimit(uint32_t bytes) { s_unzipLimit.store(bytes); }

uint32_t unzipLimit() { return s_unzipLimit.load(); }

uint64_t inflatedBytes() { return s_inflatedBytes.load(); }

std::string unzipString(const std::string& data, unsigned int unzippedLength) {
    if (data.empty() || unzippedLength == 0 || unzippedLength > unzipLimit()) return {};
    if (data.size() > std::numeric_limits<uInt>::max()) return {};
    std::string out;
    if (!inflateExactly(data, unzippedLength, out)) return {};
    return out;
}

}  // namespace standin

uint32_t ProtoHelper::getUid32(uint64_t uid) {
    standin::enterHostCall(standin::HostCall::GetUid32);
    return static_cast<uint32_t>(uid);
}

std::string ProtoHelper::UnZipString(std::string& data, unsigned int unzippedLength) {
    standin::enterHostCall(standin::HostCall::UnZipString);
    std::string out = standin::unzipString(data, unzippedLength);
    s_inflatedBytes += out.size();
    return out;
}
