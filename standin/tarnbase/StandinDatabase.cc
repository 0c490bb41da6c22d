// The stand-in name ids and channel databases.
//
// Name ids are handed out in registration order from 1; id 0 means "no
// name". Database objects carry two counts: all references (the library's
// own plus the callers') decide their lifetime, the callers' references are
// what outstandingDatabaseRefs reports. The registry of databases by sid
// holds one reference of the library on each database, and a database one
// on its table and field object.

#include "standin/tarnbase/StandinDatabase.h"

#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/Tarnbase.h"
#include "standin/tarnbase/HostFaults.h"

namespace {

struct NameState {
    std::mutex mutex;
    std::map<std::wstring, uint16_t> ids;
    std::vector<std::wstring> names{std::wstring()};  // index 0 unused
};

NameState& names() {
    static NameState* const s = new NameState;
    return *s;
}

class ChannelDatabase;

struct DbState {
    std::mutex mutex;  // guards the registry, every count and every value
    std::map<uint32_t, ChannelDatabase*> databases;
    std::set<uint32_t> throwingQueries;
    long outstanding = 0;
    long errors = 0;
    std::string releases;  // kinds of the counted releases, in order
};

DbState& db() {
    static DbState* const s = new DbState;
    return *s;
}

// Reference counting shared by the three object kinds. The *Locked members
// expect db().mutex to be held.
template <typename Interface>
class Counted : public Interface {
public:
    explicit Counted(char kind) : m_kind(kind) {}
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

    void addRef() override {
        standin::enterHostCall(standin::HostCall::AddRef);
        std::lock_guard lock(db().mutex);
        acquireLocked();
    }

    // A failing releaseRef releases first: the module lets go of its
    // reference whether or not the call returns.
    void releaseRef() override {
        releaseLocking();
        standin::enterHostCall(standin::HostCall::ReleaseRef);
    }

    void releaseLocking() {
        std::lock_guard lock(db().mutex);
        if (m_callerRefs == 0) {
            ++db().errors;
            return;
        }
        --m_callerRefs;
        --db().outstanding;
        db().releases.push_back(m_kind);
        dropLocked();  // may delete this: nothing after it
    }

    // Takes a reference on behalf of a caller.
    void acquireLocked() {
        ++m_callerRefs;
        ++m_refs;
        ++db().outstanding;
    }
    // Takes a reference of the library itself.
    void holdLocked() { ++m_refs; }
    // Gives back a reference of the library itself.
    void dropLocked() {
        if (--m_refs == 0) delete this;
    }

protected:
    virtual ~Counted() = default;

private:
    const char m_kind;  // 'd', 't' or 'f', for the release order
    long m_refs = 0;
    long m_callerRefs = 0;
};

class ChannelTable final : public Counted<Data::ITable> {
public:
    ChannelTable() : Counted('t') {}
};

class ChannelField final : public Counted<Data::IField> {
public:
    ChannelField() : Counted('f') {}
    uint32_t getUInt32(const uint16_t& nameId) override {
        standin::enterHostCall(standin::HostCall::GetUInt32);
        std::lock_guard lock(db().mutex);
        const auto it = m_values.find(nameId);
        return it == m_values.end() ? 0 : it->second;
    }
    void setLocked(uint16_t nameId, uint32_t value) { m_values[nameId] = value; }

private:
    std::map<uint16_t, uint32_t> m_values;
};

uint16_t registerName(const wchar_t* name);

uint16_t tableNameId() { return registerName(L"tblChannelData"); }
uint16_t fieldNameId() { return registerName(L"fldChannelData"); }

class ChannelDatabase final : public Counted<Data::IDatabase> {
public:
    ChannelDatabase(bool withTable, bool withField) : Counted('d') {
        if (withTable) addTableLocked();
        if (withField) addFieldLocked();
    }

    comptr<Data::ITable> getTable(const uint16_t& nameId) override {
        standin::enterHostCall(standin::HostCall::GetTable);
        const uint16_t tableId = tableNameId();
        std::lock_guard lock(db().mutex);
        if (nameId != tableId || !m_pTable) return {};
        m_pTable->acquireLocked();
        return comptr<Data::ITable>::adopt(m_pTable);
    }

    comptr<Data::IField> getField(const uint16_t& nameId) override {
        standin::enterHostCall(standin::HostCall::GetField);
        const uint16_t fieldId = fieldNameId();
        std::lock_guard lock(db().mutex);
        if (nameId != fieldId || !m_pField) return {};
        m_pField->acquireLocked();
        return comptr<Data::IField>::adopt(m_pField);
    }

    ChannelField* fieldLocked() {
        if (!m_pField) addFieldLocked();
        return m_pField;
    }

private:
    ~ChannelDatabase() override {
        if (m_pTable) m_pTable->dropLocked();
        if (m_pField) m_pField->dropLocked();
    }

    void addTableLocked() {
        m_pTable = new ChannelTable;
        m_pTable->holdLocked();
    }
    void addFieldLocked() {
        m_pField = new ChannelField;
        m_pField->holdLocked();
    }

    ChannelTable* m_pTable = nullptr;
    ChannelField* m_pField = nullptr;
};

// Replaces the registry entry of `sid` (dropping the library's reference on
// an old database) with `database`, which may be null.
void replaceLocked(uint32_t sid, ChannelDatabase* database) {
    auto& databases = db().databases;
    const auto it = databases.find(sid);
    if (it != databases.end()) {
        ChannelDatabase* old = it->second;
        databases.erase(it);
        old->dropLocked();
    }
    if (database) {
        database->holdLocked();
        databases.emplace(sid, database);
    }
}

// insert_name_id without its host call: the library's own use.
uint16_t registerName(const wchar_t* name) {
    if (!name) return 0;
    NameState& s = names();
    std::lock_guard lock(s.mutex);
    const auto it = s.ids.find(name);
    if (it != s.ids.end()) return it->second;
    if (s.names.size() > UINT16_MAX) return 0;  // every id in use
    const auto id = static_cast<uint16_t>(s.names.size());
    s.names.emplace_back(name);
    s.ids.emplace(name, id);
    return id;
}

}  // namespace

uint16_t insert_name_id(const wchar_t* name) {
    standin::enterHostCall(standin::HostCall::InsertNameId);
    return registerName(name);
}

namespace Data {

comptr<IDatabase> queryDatabase(uint64_t sid) {
    standin::enterHostCall(standin::HostCall::QueryDatabase);
    std::unique_lock lock(db().mutex);
    if (sid > UINT32_MAX) return {};
    if (db().throwingQueries.count(static_cast<uint32_t>(sid))) {
        lock.unlock();
        const std::runtime_error error("queryDatabase: the channel database of sid " + std::to_string(sid) +
                                       " cannot be read");
        standin::detail::noteHostThrow(standin::HostCall::QueryDatabase, error);
        throw error;
    }
    const auto it = db().databases.find(static_cast<uint32_t>(sid));
    if (it == db().databases.end()) return {};
    it->second->acquireLocked();
    return comptr<IDatabase>::adopt(it->second);
}

}  // namespace Data

namespace standin {

void setChannelValue(uint32_t sid, const std::wstring& name, uint32_t value) {
    const uint16_t nameId = registerName(name.c_str());
    std::lock_guard lock(db().mutex);
    const auto it = db().databases.find(sid);
    ChannelDatabase* database = nullptr;
    if (it != db().databases.end()) {
        database = it->second;
    } else {
        database = new ChannelDatabase(true, true);
        replaceLocked(sid, database);
    }
    database->fieldLocked()->setLocked(nameId, value);
}

void createDatabase(uint32_t sid, bool withTable, bool withField) {
    std::lock_guard lock(db().mutex);
    replaceLocked(sid, new ChannelDatabase(withTable, withField));
}

void removeDatabase(uint32_t sid) {
    std::lock_guard lock(db().mutex);
    replaceLocked(sid, nullptr);
}

void setQueryThrows(uint32_t sid, bool throws) {
    std::lock_guard lock(db().mutex);
    if (throws) {
        db().throwingQueries.insert(sid);
    } else {
        db().throwingQueries.erase(sid);
    }
}

void removeAllDatabases() {
    std::lock_guard lock(db().mutex);
    while (!db().databases.empty()) replaceLocked(db().databases.begin()->first, nullptr);
    db().throwingQueries.clear();
    db().errors = 0;
    db().releases.clear();
}

long outstandingDatabaseRefs() {
    std::lock_guard lock(db().mutex);
    return db().outstanding;
}

long databaseRefErrors() {
    std::lock_guard lock(db().mutex);
    return db().errors;
}

std::string databaseReleaseOrder() {
    std::lock_guard lock(db().mutex);
    return db().releases;
}

std::wstring nameForId(uint16_t id) {
    NameState& s = names();
    std::lock_guard lock(s.mutex);
    return id < s.names.size() ? s.names[id] : std::wstring();
}

}  // namespace standin
