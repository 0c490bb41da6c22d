// An inbound server packet, valid for the duration of the call that hands it
// over; the module never keeps or deletes it. Slot order (MSVC numbering;
// Itanium: one more from getUri on): 0 destructor, 1 getUri, 2 getBodyLen,
// 3 getResCode, 4 getBody, 5 unmarshal.
#pragma once

#include <cstdint>

namespace pakt {
class Marshallable;
}

class IProtoPacket {
public:
    virtual ~IProtoPacket() = default;
    virtual uint32_t getUri() = 0;
    virtual int32_t getBodyLen() = 0;
    virtual uint32_t getResCode() = 0;  // 200 = success
    virtual const char* getBody() = 0;
    // Fills `record` from the body with the record's unmarshal; decoding
    // errors propagate as pakt::UnpackError.
    virtual void unmarshal(pakt::Marshallable& record) = 0;
};
