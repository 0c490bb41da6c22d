// The marshal and unmarshal of every wire record, compiled here once for
// this project's targets: the walks of their field lists. Each record
// header ends with the list of its records (PAKT_RECORD_WALKS), which here,
// with SAPP_RECORD_WALKS_HERE defined, instantiates their walks and
// everywhere else in this project declares them instantiated here
// (marshal/RecordWalks.h).
#define SAPP_RECORD_WALKS_HERE

#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"
