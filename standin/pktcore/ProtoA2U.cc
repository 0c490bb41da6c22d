#include "host/Pktcore.h"
#include "standin/pktcore/Utf8.h"
#include "standin/tarnbase/HostFaults.h"

std::wstring ProtoA2U::net2app(const std::string& text) {
    standin::enterHostCall(standin::HostCall::Net2App);
    return standin::utf8::toWide<wchar_t>(text);
}
