// The stand-in packet factory. Every packet it makes is a standin::Packet:
//   newPacket(uri, body, length, resCode)  the `length` body bytes as given;
//                                          null if body is null but length > 0
//   newPacket(frame, length, resCode)      frame := uri u32 (little-endian),
//                                          body (the remaining bytes);
//                                          null if frame is null or length < 4
//   newPacket(uri, record)                 the record's marshalled bytes,
//                                          result code 200; PackError propagates
//   freePacket(packet)                     deletes a packet made here (null is
//                                          allowed)

#include <string>
#include <utility>

#include "host/Pktcore.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Marshallable.h"
#include "marshal/Pack.h"
#include "standin/pktcore/StandinSession.h"

ProtoPacketPool::ProtoPacketPool() = default;

ProtoPacketPool::~ProtoPacketPool() = default;

IProtoPacket* ProtoPacketPool::newPacket(int uri, const char* body, uint64_t length, int resCode) {
    if (!body && length > 0) return nullptr;
    std::string bytes = length > 0 ? std::string(body, length) : std::string();
    return new standin::Packet(static_cast<uint32_t>(uri), static_cast<uint32_t>(resCode), std::move(bytes));
}

IProtoPacket* ProtoPacketPool::newPacket(const char* frame, uint64_t length, int resCode) {
    if (!frame || length < 4) return nullptr;
    const auto* b = reinterpret_cast<const unsigned char*>(frame);
    const uint32_t uri = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return new standin::Packet(uri, static_cast<uint32_t>(resCode), std::string(frame + 4, length - 4));
}

IProtoPacket* ProtoPacketPool::newPacket(int uri, const pakt::Marshallable& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    record.marshal(pack);
    return new standin::Packet(static_cast<uint32_t>(uri), 200, pack.str());
}

void ProtoPacketPool::freePacket(IProtoPacket* packet) { delete packet; }
