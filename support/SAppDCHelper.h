// Reads the session's channel data from the host's channel database.
//
// The references to the channel's database, its channel-data table and its
// channel-data field object are taken once, at construction, and held until
// close. When the channel has no database, construction
// logs once and every getSGroupId logs and answers 0.
#pragma once

#include <cstdint>

#include "host/Tarnbase.h"

class Teardown;

class SAppDCHelper {
public:
    // If the host throws while the references are taken, those already
    // taken are given back before the exception leaves.
    explicit SAppDCHelper(uint32_t sid);
    // Calls no host: the owner closes the helper first, so that no reference
    // is left for a comptr to give back here.
    ~SAppDCHelper();

    // Releases the database, then the table, then the field object, each a
    // step of `teardown` (a throwing releaseRef does not stop the others).
    void close(Teardown& teardown);
    SAppDCHelper(const SAppDCHelper&) = delete;
    SAppDCHelper& operator=(const SAppDCHelper&) = delete;

    // The channel's sub-group id as stored now; 0 without a field object.
    uint32_t getSGroupId();

private:
    void init();

    uint32_t m_sid;
    comptr<Data::IDatabase> m_pDb;
    comptr<Data::ITable> m_pChlTbl;
    comptr<Data::IField> m_pChlFld;
};
