// zlib streams as the host's decompression expects them: one complete
// stream (RFC 1950, as zlib's compress() writes it) per compressed field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sapphost {

// `bytes` compressed with zlib's default level. Throws InputError if zlib
// fails.
std::string deflateBytes(std::string_view bytes);

// The bytes of a zlib stream that inflates to exactly `length` bytes, as the
// host's ProtoHelper::UnZipString inflates it; nothing for anything else.
std::optional<std::string> inflateExactly(std::string_view bytes, uint32_t length);

}  // namespace sapphost
