// A test input's bytes written as numbers: bytes({0x0A, 0x00}).
#pragma once

#include <initializer_list>
#include <string>

namespace pakt::test {

inline std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

}  // namespace pakt::test

namespace pakt {
using test::bytes;
}  // namespace pakt
