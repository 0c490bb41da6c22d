// Exceptions of the marshalling library.
//
// Thrown only for data that cannot be encoded (PackError) or that is
// truncated (UnpackError); each carries one fixed message naming the
// operation that failed. Catching PacketError catches both.
#pragma once

#include <stdexcept>
#include <string>

namespace pakt {

class PacketError : public std::runtime_error {
public:
    explicit PacketError(const std::string& what) : std::runtime_error(what) {}
};

class PackError : public PacketError {
public:
    explicit PackError(const std::string& what) : PacketError(what) {}
};

class UnpackError : public PacketError {
public:
    explicit UnpackError(const std::string& what) : PacketError(what) {}
};

}  // namespace pakt
