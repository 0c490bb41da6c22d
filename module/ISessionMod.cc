#include "module/ISessionMod.h"

// The interfaces' special members are exported and trivial: constructors only
// install the dispatch table, assignments return the object.

ISessionMod::ISessionMod() = default;
ISessionMod::ISessionMod(const ISessionMod&) = default;
ISessionMod& ISessionMod::operator=(const ISessionMod&) = default;
ISessionMod::~ISessionMod() = default;

ISInfoMod::ISInfoMod() = default;
ISInfoMod::ISInfoMod(const ISInfoMod&) = default;
ISInfoMod::ISInfoMod(ISInfoMod&&) noexcept = default;
ISInfoMod& ISInfoMod::operator=(const ISInfoMod&) = default;
ISInfoMod& ISInfoMod::operator=(ISInfoMod&&) noexcept = default;
ISInfoMod::~ISInfoMod() = default;

IServiceMod::IServiceMod() = default;
IServiceMod::IServiceMod(const IServiceMod&) = default;
IServiceMod::IServiceMod(IServiceMod&&) noexcept = default;
IServiceMod& IServiceMod::operator=(const IServiceMod&) = default;
IServiceMod& IServiceMod::operator=(IServiceMod&&) noexcept = default;
IServiceMod::~IServiceMod() = default;

ISBypassMod::ISBypassMod() = default;
ISBypassMod::ISBypassMod(const ISBypassMod&) = default;
ISBypassMod::ISBypassMod(ISBypassMod&&) noexcept = default;
ISBypassMod& ISBypassMod::operator=(const ISBypassMod&) = default;
ISBypassMod& ISBypassMod::operator=(ISBypassMod&&) noexcept = default;
ISBypassMod::~ISBypassMod() = default;
