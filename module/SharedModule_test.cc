// The shipped library as a host sees it: this executable links the shared
// module (sapp.dll / libsapp.so), not its objects, so every call below
// crosses the library boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <typeinfo>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include "host/Pktcore.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "protocol/Packets.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

#if defined(_WIN32)
constexpr const char* kLibraryName = "sapp.dll";
#else
constexpr const char* kLibraryName = "libsapp.so";
#endif

constexpr uint32_t kSid = 4242;

class SharedModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        standin::removeAllDatabases();
        module = getModule(&session);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override {
        module->onLeave(kSid);
        releaseModule(kSid);
        standin::removeAllDatabases();
        standin::resetLog();
    }

    standin::Session session{kSid};
    ISessionMod* module = nullptr;
};

TEST_F(SharedModuleTest, LogLinesNameTheLibraryItself) {
    const auto records = standin::logRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().text, L"[sapp] SAppModule::getInstance");
    for (const auto& record : records) EXPECT_EQ(record.module, kLibraryName) << record.macro;
}

// The URIs themselves are checked by the scenario folder; here, that the
// count is the packet table's, whatever rows it gains.
TEST_F(SharedModuleTest, InterfaceCallsReachTheSessionsTables) {
    EXPECT_EQ(module->getUriCount(), protocol::session::count(protocol::session::InboundPackets{}));
    EXPECT_EQ(module->getReqTypeCount(), 1u);
    EXPECT_EQ(module->getModFlag(), 1);
}

// Slot 8 takes whatever the host passes and does nothing: no host call, no
// log line, the session left as it was.
TEST_F(SharedModuleTest, TheReservedSlotHasNoEffect) {
    const std::size_t entries = session.entries().size();
    const std::size_t lines = standin::logRecords().size();
    const char data[] = {1, 2, 3, 4};
    module->onReserved(kSid, data);
    module->onReserved(0, nullptr);
    EXPECT_EQ(session.entries().size(), entries);
    EXPECT_EQ(standin::logRecords().size(), lines);
    EXPECT_EQ(session.watcherCount(), 1u);
}

// A record that fails to decode leaves the library as pakt::UnpackError and
// is caught here by its type (and by its bases).
TEST_F(SharedModuleTest, DecodingErrorsLeaveTheLibraryWithTheirType) {
    standin::Packet truncated(protocol::session::URI_ADD_APP_REQ, 200, std::string("\xd2\x04", 2));
    try {
        module->onPacket(kSid, &truncated);
        ADD_FAILURE() << "no exception";
    } catch (const pakt::UnpackError& e) {
        EXPECT_STREQ(e.what(), "pop_uint32: not enough data");
    } catch (...) {
        ADD_FAILURE() << "an exception of another type";
    }
    EXPECT_THROW(module->onPacket(kSid, &truncated), pakt::PacketError);
    EXPECT_THROW(module->onPacket(kSid, &truncated), std::runtime_error);
}

// The module's run-time type information answers the host: typeid reads the
// module's type descriptor and names its class, and a cast to an exported
// interface the object does not implement walks the module's class
// hierarchy and fails. (Each ABI decorates the name its own way; both keep
// the class name whole.)
TEST_F(SharedModuleTest, RunTimeTypeInformationCrossesTheLibrary) {
    EXPECT_NE(std::string(typeid(*module).name()).find("SAppModule"), std::string::npos) << typeid(*module).name();
    EXPECT_FALSE(typeid(*module) == typeid(ISessionMod));
    EXPECT_EQ(dynamic_cast<ISInfoMod*>(module), nullptr);
}

// The address of a symbol the loaded module exports, or null.
void* moduleSymbol(const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(kLibraryName), name));
#else
    void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_NOLOAD);
    void* symbol = library ? dlsym(library, name) : nullptr;
    if (library) dlclose(library);
    return symbol;
#endif
}

// The exported members this test calls, by their names in sapp.exports for
// the toolchain that built it.
#if defined(_MSC_VER)
constexpr const char* kUserInfoCopy = "??0ProtoUInfo@@QEAA@AEBV0@@Z";
constexpr const char* kUserInfoDestructor = "??1ProtoUInfo@@QEAA@XZ";
constexpr const char* kPacketPoolCopy = "??0ProtoPacketPool@@QEAA@AEBV0@@Z";
#else
constexpr const char* kUserInfoCopy = "_ZN10ProtoUInfoC2ERKS_";
constexpr const char* kUserInfoDestructor = "_ZN10ProtoUInfoD2Ev";
constexpr const char* kPacketPoolCopy = "_ZN15ProtoPacketPoolC2ERKS_";
#endif

// The members pktcore's declarations define are the module's own: a copy
// made by the module's exported copy constructors holds the original's
// values, and a ProtoPacketPool copied there dispatches to pktcore's
// virtual functions through pktcore's virtual table. (The constructors take
// the object first, as the member functions they are; MSVC's also return
// it, which the call ignores.)
TEST(SharedModuleExports, HostClassMembersOfTheModuleWork) {
    using Copy = void (*)(void* self, const void* other);
    const auto copyUserInfo = reinterpret_cast<Copy>(moduleSymbol(kUserInfoCopy));
    const auto destroyUserInfo = reinterpret_cast<void (*)(void*)>(moduleSymbol(kUserInfoDestructor));
    const auto copyPool = reinterpret_cast<Copy>(moduleSymbol(kPacketPoolCopy));
    ASSERT_TRUE(copyUserInfo && destroyUserInfo && copyPool);

    ProtoUInfo user;
    user.setUid(0x123456789);
    user.setCookie(std::string(40, 'c'));  // beyond the short-string buffer
    alignas(ProtoUInfo) unsigned char userCopy[sizeof(ProtoUInfo)];
    copyUserInfo(userCopy, &user);
    const auto* copied = std::launder(reinterpret_cast<ProtoUInfo*>(userCopy));
    EXPECT_EQ(copied->getUid(), 0x123456789u);
    EXPECT_EQ(copied->getCookie(), user.getCookie());
    destroyUserInfo(userCopy);

    ProtoPacketPool pool;
    alignas(ProtoPacketPool) unsigned char poolCopy[sizeof(ProtoPacketPool)];
    copyPool(poolCopy, &pool);
    auto* copiedPool = std::launder(reinterpret_cast<ProtoPacketPool*>(poolCopy));
    IProtoPacket* packet = copiedPool->newPacket(7, "ab", 2, 200);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->getUri(), 7u);
    copiedPool->freePacket(packet);
    copiedPool->~ProtoPacketPool();
}

}  // namespace
