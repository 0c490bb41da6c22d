// Services of the host's protocol library (pktcore) that the module uses:
// the session's user info, uid narrowing, decompression, string conversion,
// the clock and the packet pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/HostApi.h"

class IProtoPacket;
namespace pakt {
class Marshallable;
}

// The session's user info. Getters return the last value set; a default
// object holds zeros and empty strings. The fields are in the host's order.
// The copy and move operations and the destructor come with this declaration
// (member by member); the module runs only the destructor.
class PKTCORE_CLASS ProtoUInfo {
public:
    PKTCORE_MEMBER ProtoUInfo();
    PKTCORE_INLINE ProtoUInfo(const ProtoUInfo& other);
    PKTCORE_INLINE ProtoUInfo(ProtoUInfo&& other) noexcept;
    PKTCORE_INLINE ProtoUInfo& operator=(const ProtoUInfo& other);
    PKTCORE_INLINE ProtoUInfo& operator=(ProtoUInfo&& other) noexcept;
    PKTCORE_INLINE ~ProtoUInfo();

    PKTCORE_MEMBER void setSid(uint32_t sid);
    PKTCORE_MEMBER void setAsid(uint32_t asid);
    PKTCORE_MEMBER void setPid(uint32_t pid);
    PKTCORE_MEMBER void setUid(uint64_t uid);
    PKTCORE_MEMBER void setUdb(const std::string& udb);
    PKTCORE_MEMBER void setCookie(const std::string& cookie);

    PKTCORE_MEMBER uint32_t getSid() const;
    PKTCORE_MEMBER uint32_t getAsid() const;
    PKTCORE_MEMBER uint32_t getPid() const;
    PKTCORE_MEMBER uint64_t getUid() const;
    PKTCORE_MEMBER const std::string& getUdb() const;
    PKTCORE_MEMBER const std::string& getCookie() const;

private:
    uint32_t m_sid = 0;
    uint32_t m_asid = 0;
    uint64_t m_uid = 0;
    uint32_t m_pid = 0;
    std::string m_udb;
    std::string m_cookie;

    friend struct ProtoUInfoLayout;
};

// The module allocates a ProtoUInfo by this declaration's size and runs
// pktcore's constructor into it, so the fields must sit where pktcore's own
// class has them: 88 bytes with a 32-byte std::string (libstdc++, MSVC
// release). The checks are members of a friend because the fields are
// private.
struct ProtoUInfoLayout {
    static_assert(sizeof(ProtoUInfo) == 88 && alignof(ProtoUInfo) == 8);
    static_assert(offsetof(ProtoUInfo, m_sid) == 0);
    static_assert(offsetof(ProtoUInfo, m_asid) == 4);
    static_assert(offsetof(ProtoUInfo, m_uid) == 8);
    static_assert(offsetof(ProtoUInfo, m_pid) == 16);
    static_assert(offsetof(ProtoUInfo, m_udb) == 24);
    static_assert(offsetof(ProtoUInfo, m_cookie) == 56);
};

inline ProtoUInfo::ProtoUInfo(const ProtoUInfo& other) = default;
inline ProtoUInfo::ProtoUInfo(ProtoUInfo&& other) noexcept = default;
inline ProtoUInfo& ProtoUInfo::operator=(const ProtoUInfo& other) = default;
inline ProtoUInfo& ProtoUInfo::operator=(ProtoUInfo&& other) noexcept = default;
inline ProtoUInfo::~ProtoUInfo() = default;

// ProtoHelper, ProtoA2U and ProtoTime hold no data; their assignments come
// with the declaration and only return the object.
class PKTCORE_CLASS ProtoHelper {
public:
    ProtoHelper() = default;
    ProtoHelper(const ProtoHelper&) = default;
    ProtoHelper(ProtoHelper&&) = default;
    PKTCORE_INLINE ProtoHelper& operator=(const ProtoHelper&);
    PKTCORE_INLINE ProtoHelper& operator=(ProtoHelper&&) noexcept;
    ~ProtoHelper() = default;

    // The 32-bit uid that wire records carry for a 64-bit uid.
    PKTCORE_MEMBER static uint32_t getUid32(uint64_t uid);
    // Inflates zlib-compressed `data` to exactly `unzippedLength` bytes.
    // Returns an empty string on any failure; never throws.
    PKTCORE_MEMBER static std::string UnZipString(std::string& data, unsigned int unzippedLength);
};

inline ProtoHelper& ProtoHelper::operator=(const ProtoHelper&) { return *this; }
inline ProtoHelper& ProtoHelper::operator=(ProtoHelper&&) noexcept { return *this; }

class PKTCORE_CLASS ProtoA2U {
public:
    ProtoA2U() = default;
    ProtoA2U(const ProtoA2U&) = default;
    ProtoA2U(ProtoA2U&&) = default;
    PKTCORE_INLINE ProtoA2U& operator=(const ProtoA2U&);
    PKTCORE_INLINE ProtoA2U& operator=(ProtoA2U&&) noexcept;
    ~ProtoA2U() = default;

    // Converts a UTF-8 network string to the platform's wide string; invalid
    // bytes become U+FFFD.
    PKTCORE_MEMBER static std::wstring net2app(const std::string& text);
};

inline ProtoA2U& ProtoA2U::operator=(const ProtoA2U&) { return *this; }
inline ProtoA2U& ProtoA2U::operator=(ProtoA2U&&) noexcept { return *this; }

class PKTCORE_CLASS ProtoTime {
public:
    ProtoTime() = default;
    ProtoTime(const ProtoTime&) = default;
    ProtoTime(ProtoTime&&) = default;
    PKTCORE_INLINE ProtoTime& operator=(const ProtoTime&);
    PKTCORE_INLINE ProtoTime& operator=(ProtoTime&&) noexcept;
    ~ProtoTime() = default;

    // Milliseconds on the host's clock.
    PKTCORE_MEMBER static uint32_t currentSystemTime();
};

inline ProtoTime& ProtoTime::operator=(const ProtoTime&) { return *this; }
inline ProtoTime& ProtoTime::operator=(ProtoTime&&) noexcept { return *this; }

// The host's packet factory. The module never builds packets through it.
// The copy operations come with the declaration and copy the one pointer;
// the virtual functions, hence the virtual table, are pktcore's. The host's
// table is: 0 destructor, 1 newPacket(uri, body, length, resCode),
// 2 newPacket(frame, length, resCode), 3 newPacket(uri, record),
// 4 freePacket. MSVC groups overloaded virtual functions and lays them out
// in reverse order of declaration, which is why the three newPacket are
// declared in reverse; the Itanium ABI (GCC, Clang, mingw-w64) follows the
// declaration order and gives the destructor two slots (docs/abi.md).
class PKTCORE_CLASS ProtoPacketPool {
public:
    PKTCORE_MEMBER ProtoPacketPool();
    PKTCORE_INLINE ProtoPacketPool(const ProtoPacketPool& other);
    PKTCORE_INLINE ProtoPacketPool& operator=(const ProtoPacketPool& other);
    PKTCORE_MEMBER virtual ~ProtoPacketPool();
    PKTCORE_MEMBER virtual IProtoPacket* newPacket(int uri, const pakt::Marshallable& record);
    PKTCORE_MEMBER virtual IProtoPacket* newPacket(const char* frame, uint64_t length, int resCode);
    PKTCORE_MEMBER virtual IProtoPacket* newPacket(int uri, const char* body, uint64_t length, int resCode);
    PKTCORE_MEMBER virtual void freePacket(IProtoPacket* packet);

private:
    void* m_pImpl = nullptr;
};

inline ProtoPacketPool::ProtoPacketPool(const ProtoPacketPool& other) : m_pImpl(other.m_pImpl) {}
inline ProtoPacketPool& ProtoPacketPool::operator=(const ProtoPacketPool& other) {
    m_pImpl = other.m_pImpl;
    return *this;
}
