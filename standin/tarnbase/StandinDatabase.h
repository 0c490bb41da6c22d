// Control of the stand-in channel databases, for tests and tools. Not part of
// the real host's interface.
//
// A channel database exists per sid once a value is set for it. It has one
// table ("tblChannelData") and one field object ("fldChannelData") holding
// named uint32 values; a value that was never set reads as 0. Objects handed
// out through comptr stay valid while referenced, also after their database
// is removed.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostApi.h"

namespace standin {

// Sets a value of the channel field object of `sid`, creating the database.
TARNBASE_API void setChannelValue(uint32_t sid, const std::wstring& name, uint32_t value);
// Removes the database of `sid`: queryDatabase(sid) is empty from now on.
TARNBASE_API void removeDatabase(uint32_t sid);
TARNBASE_API void removeAllDatabases();
// References currently held on database objects (databases, tables and
// field objects) handed out through queryDatabase, getTable and getField.
TARNBASE_API long outstandingDatabaseRefs();
// The name registered under `id`, empty if none.
TARNBASE_API std::wstring nameForId(uint16_t id);

}  // namespace standin
