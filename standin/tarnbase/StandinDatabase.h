// Control of the stand-in channel databases, for tests and tools. Not part of
// the real host's interface.
//
// A channel database exists per sid once a value is set for it (or once it
// is created explicitly). It has one table ("tblChannelData") and one field
// object ("fldChannelData") holding named uint32 values; a value that was
// never set reads as 0. getTable and getField answer only those two names
// and give an empty comptr for any other id. Objects handed out through
// comptr stay valid while referenced, also after their database is removed;
// a value set later for the same sid goes to a new database, not to objects
// of a removed one.
//
// Every reference handed out (queryDatabase, getTable, getField, addRef) is
// counted until released. Releasing an object that holds no outstanding
// reference is counted as an error and otherwise ignored.
//
// The query of a sid's database can be made to fail with an exception, for
// the paths where the host cannot reach its channel data. Besides, every
// host call here (insert_name_id, queryDatabase, and the objects' methods)
// can be made to fail with a HostFault (HostFaults.h); a failing releaseRef
// releases first.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostApi.h"

namespace standin {

// Sets a value of the channel field object of `sid`, creating the database
// (or the field object of one created without it).
TARNBASE_API void setChannelValue(uint32_t sid, const std::wstring& name, uint32_t value);
// Creates the database of `sid` (replacing one that exists) with or without
// its table and field object, for the paths where those are missing.
TARNBASE_API void createDatabase(uint32_t sid, bool withTable, bool withField);
// Removes the database of `sid`: queryDatabase(sid) is empty from now on.
TARNBASE_API void removeDatabase(uint32_t sid);
// From now on queryDatabase(sid) throws std::runtime_error (true), or
// answers as before (false).
TARNBASE_API void setQueryThrows(uint32_t sid, bool throws);
// Removes every database, ends every query failure and sets the error count
// and the release order back to empty.
TARNBASE_API void removeAllDatabases();
// References currently held on database objects (databases, tables and
// field objects) handed out through queryDatabase, getTable and getField.
TARNBASE_API long outstandingDatabaseRefs();
// releaseRef calls on objects that held no outstanding reference.
TARNBASE_API long databaseRefErrors();
// The kind of object of every counted releaseRef, in call order: 'd' a
// database, 't' a table, 'f' a field object.
TARNBASE_API std::string databaseReleaseOrder();
// The name registered under `id`, empty if none.
TARNBASE_API std::wstring nameForId(uint16_t id);

}  // namespace standin
