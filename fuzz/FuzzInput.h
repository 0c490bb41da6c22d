// The fuzz input as a stream of small values: every read takes what is
// left and gives 0 or an empty string once the input is used up, so that
// any byte string is a valid program for the targets' action languages.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sappfuzz {

// Under libFuzzer, the longest input the target ran is printed when the
// process ends (fuzz/run.sh reports it): that the run reached inputs of the
// full size is not otherwise to be seen.
inline void noteInputSize([[maybe_unused]] const char* target, [[maybe_unused]] std::size_t size) {
#if defined(SAPP_LIBFUZZER)
    struct Longest {
        const char* target = nullptr;
        std::size_t bytes = 0;
        ~Longest() {
            if (target) std::fprintf(stderr, "%s: longest input run: %zu bytes\n", target, bytes);
        }
    };
    static Longest longest;
    longest.target = target;
    longest.bytes = std::max(longest.bytes, size);
#endif
}

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_at >= m_size; }

    uint8_t byte() { return empty() ? 0 : m_data[m_at++]; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    uint32_t u32() { return static_cast<uint32_t>(u16() | static_cast<uint32_t>(u16()) << 16); }

    // A length byte, then that many bytes (fewer at the end of the input).
    std::string shortBytes() { return bytes(byte()); }
    // A 16-bit length, then that many bytes.
    std::string longBytes() { return bytes(u16()); }
    std::string rest() { return bytes(m_size - std::min(m_at, m_size)); }

private:
    std::string bytes(std::size_t n) {
        n = std::min(n, m_size - std::min(m_at, m_size));
        std::string out(reinterpret_cast<const char*>(m_data + m_at), n);
        m_at += n;
        return out;
    }

    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

}  // namespace sappfuzz
