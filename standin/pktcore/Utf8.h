// UTF-8 decoding for ProtoA2U::net2app. Internal to the stand-in protocol
// library; a header so that tests can check both wide forms on any platform.
//
// Ill-formed input is replaced the way the Unicode Standard recommends
// (section 3.9, "maximal subparts"): every maximal prefix of a well-formed
// sequence that cannot be completed becomes one U+FFFD, and decoding resumes
// at the first byte that does not belong to it. So an overlong form
// (C0 80, E0 80 80), an encoded surrogate (ED A0 80) or a code point beyond
// U+10FFFF (F4 90 80 80) gives one U+FFFD per byte, a lone continuation byte
// or invalid lead byte (80, FE) one U+FFFD, and a truncated sequence
// (E2 82 followed by "A") one U+FFFD before the "A".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace standin::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Calls emit(char32_t) for every code point of `text`, in order.
template <typename Emit>
void decode(std::string_view text, Emit&& emit) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            emit(static_cast<char32_t>(lead));
            ++i;
            continue;
        }
        // Sequence length and the range allowed for the second byte, which
        // is where overlong forms, surrogates and values past U+10FFFF are
        // told apart from valid ones.
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        char32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            emit(kReplacement);
            ++i;
            continue;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < n) {
            const auto b = static_cast<unsigned char>(text[i + taken]);
            if (b < low || b > high) break;
            cp = (cp << 6) | (b & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        emit(taken == length ? cp : kReplacement);
        i += taken;
    }
}

// `text` as UTF-32 (4-byte CharT) or UTF-16 with surrogate pairs (2-byte
// CharT).
template <typename CharT>
std::basic_string<CharT> toWide(std::string_view text) {
    static_assert(sizeof(CharT) == 2 || sizeof(CharT) == 4, "wide characters are 2 or 4 bytes");
    std::basic_string<CharT> out;
    out.reserve(text.size());
    decode(text, [&out](char32_t cp) {
        if constexpr (sizeof(CharT) == 4) {
            out.push_back(static_cast<CharT>(cp));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<CharT>(cp));
        } else {
            const char32_t v = cp - 0x10000;
            out.push_back(static_cast<CharT>(0xD800 + (v >> 10)));
            out.push_back(static_cast<CharT>(0xDC00 + (v & 0x3FF)));
        }
    });
    return out;
}

}  // namespace standin::utf8
