// Services of the host's protocol library (pktcore) that the module uses:
// the session's user info, uid narrowing, decompression, string conversion,
// the clock and the packet pool.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostApi.h"

class IProtoPacket;
namespace pakt {
class Marshallable;
}

// The session's user info. Getters return the last value set; a default
// object holds zeros and empty strings.
class PKTCORE_API ProtoUInfo {
public:
    ProtoUInfo();
    ProtoUInfo(const ProtoUInfo&);
    ProtoUInfo(ProtoUInfo&&) noexcept;
    ProtoUInfo& operator=(const ProtoUInfo&);
    ProtoUInfo& operator=(ProtoUInfo&&) noexcept;
    ~ProtoUInfo();

    void setSid(uint32_t sid);
    void setAsid(uint32_t asid);
    void setPid(uint32_t pid);
    void setUid(uint64_t uid);
    void setUdb(const std::string& udb);
    void setCookie(const std::string& cookie);

    uint32_t getSid() const;
    uint32_t getAsid() const;
    uint32_t getPid() const;
    uint64_t getUid() const;
    const std::string& getUdb() const;
    const std::string& getCookie() const;

private:
    uint32_t m_sid = 0;
    uint32_t m_asid = 0;
    uint32_t m_pid = 0;
    uint64_t m_uid = 0;
    std::string m_udb;
    std::string m_cookie;
};

class PKTCORE_API ProtoHelper {
public:
    // The 32-bit uid that wire records carry for a 64-bit uid.
    static uint32_t getUid32(uint64_t uid);
    // Inflates zlib-compressed `data` to exactly `unzippedLength` bytes.
    // Returns an empty string on any failure; never throws.
    static std::string UnZipString(std::string& data, unsigned int unzippedLength);
};

class PKTCORE_API ProtoA2U {
public:
    // Converts a UTF-8 network string to the platform's wide string; invalid
    // bytes become U+FFFD.
    static std::wstring net2app(const std::string& text);
};

class PKTCORE_API ProtoTime {
public:
    // Milliseconds on the host's clock.
    static uint32_t currentSystemTime();
};

// The host's packet factory. The module exports its copy operations with the
// host's class declarations but never builds packets through it.
class PKTCORE_API ProtoPacketPool {
public:
    ProtoPacketPool();
    ProtoPacketPool(const ProtoPacketPool&) = default;
    ProtoPacketPool& operator=(const ProtoPacketPool&) = default;
    virtual ~ProtoPacketPool();
    virtual IProtoPacket* newPacket(int uri, const char* body, uint64_t length, int resCode);
    virtual IProtoPacket* newPacket(const char* frame, uint64_t length, int resCode);
    virtual IProtoPacket* newPacket(int uri, const pakt::Marshallable& record);
    virtual void freePacket(IProtoPacket* packet);

private:
    void* m_pImpl = nullptr;
};
