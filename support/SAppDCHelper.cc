#include "support/SAppDCHelper.h"

#include <cassert>

#include "support/SAppLog.h"
#include "support/Teardown.h"

namespace {

// The id of `name`, or 0 ("no name") when the host's insert_name_id throws:
// an exception cannot leave the loading of a library, so the module loads
// without that name, and the database answers for id 0 what it answers for
// a name it does not know (for the stand-in host: nothing, so the channel
// reads as one without channel data).
uint16_t registerName(const wchar_t* name) noexcept {
    try {
        return insert_name_id(name);
    } catch (...) {
        return 0;
    }
}

// Database name ids, registered with the host in this order while the
// module is loaded.
const uint16_t kTblChannelData = registerName(L"tblChannelData");
const uint16_t kFldChannelData = registerName(L"fldChannelData");
const uint16_t kSGroupId = registerName(L"dwSGroupId");

}  // namespace

SAppDCHelper::SAppDCHelper(uint32_t sid) : m_sid(sid) {
    try {
        init();
    } catch (...) {
        Teardown teardown;
        close(teardown);
        throw;
    }
}

SAppDCHelper::~SAppDCHelper() {
    assert(!m_pDb && !m_pChlTbl && !m_pChlFld && "the helper is closed before it is destroyed");
}

// A comptr is emptied before its releaseRef runs, so a throwing release
// leaves nothing to give back twice.
void SAppDCHelper::close(Teardown& teardown) {
    teardown.step([&] { m_pDb.reset(); });
    teardown.step([&] { m_pChlTbl.reset(); });
    teardown.step([&] { m_pChlFld.reset(); });
}

void SAppDCHelper::init() {
    m_pDb = Data::queryDatabase(uint64_t{m_sid});
    if (!m_pDb) {
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        PLOG("SessionDCHelper::init, query database failed for sid: ", m_sid);
        return;
    }
    m_pChlTbl = m_pDb->getTable(kTblChannelData);
    m_pChlFld = m_pDb->getField(kFldChannelData);
}

uint32_t SAppDCHelper::getSGroupId() {
    if (!m_pChlFld) {
        // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("SAppDCHelper::getSGroupId, m_pChlFld==NULL.");
        return 0;
    }
    return m_pChlFld->getUInt32(kSGroupId);
}
