// Reads the session's channel data from the host's channel database.
//
// The references to the channel's database, its channel-data table and its
// channel-data field object are taken once, at construction, and held until
// destruction, which releases the database, then the table, then the field
// object. When the channel has no database, construction logs once and every
// getSGroupId logs and answers 0.
#pragma once

#include <cstdint>

#include "host/Tarnbase.h"

class SAppContext;

class SAppDCHelper {
public:
    SAppDCHelper(SAppContext* owner, uint32_t sid);
    SAppDCHelper(const SAppDCHelper&) = delete;
    SAppDCHelper& operator=(const SAppDCHelper&) = delete;

    // The channel's sub-group id as stored now; 0 without a field object.
    uint32_t getSGroupId();

private:
    void init();

    SAppContext* m_pContext;
    uint32_t m_sid;
    // Declared in reverse: members are destroyed last to first, so the
    // references go back in the order database, table, field object.
    comptr<Data::IField> m_pChlFld;
    comptr<Data::ITable> m_pChlTbl;
    comptr<Data::IDatabase> m_pDb;
};
