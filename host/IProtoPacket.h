// An inbound server packet, valid for the duration of the call that hands it
// over.
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
