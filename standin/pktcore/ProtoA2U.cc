#include "host/Pktcore.h"
#include "standin/pktcore/Utf8.h"

std::wstring ProtoA2U::net2app(const std::string& text) { return standin::utf8::toWide<wchar_t>(text); }
