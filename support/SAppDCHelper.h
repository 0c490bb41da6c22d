// Reads the session's channel data from the host's channel database.
//
// The references to the channel's database, its channel-data table and its
// channel-data field object are taken once, at construction, and held until
// destruction. When the channel has no database, construction logs once and
// every getSGroupId logs and answers 0.
#pragma once

#include <cstdint>

#include "host/Tarnbase.h"

class SAppContext;

class SAppDCHelper {
public:
    SAppDCHelper(SAppContext* owner, uint32_t sid);
    // Releases the database, then the table, then the field object.
    ~SAppDCHelper();
    SAppDCHelper(const SAppDCHelper&) = delete;
    SAppDCHelper& operator=(const SAppDCHelper&) = delete;

    // The channel's sub-group id as stored now; 0 without a field object.
    uint32_t getSGroupId();

private:
    void init();

    SAppContext* m_pContext;
    uint32_t m_sid;
    comptr<Data::IDatabase> m_pDb;
    comptr<Data::ITable> m_pChlTbl;
    comptr<Data::IField> m_pChlFld;
};
