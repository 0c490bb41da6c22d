// Services of the host's base library (tarnbase) that the module uses: the
// log sink and the per-channel database.
#pragma once

#include <cstdint>

#include "host/HostApi.h"

// A log file of the host. Lines are handed over whole, with their metadata.
class TARNBASE_API LogExport {
public:
    bool isLevelEnabled(unsigned short level);
    void write(unsigned short level, const char* category, const char* file, unsigned short line,
               const char* macro, const wchar_t* text, const char* module);
};

// The sink of the named log file, or null when the host has none.
TARNBASE_API LogExport* GetLogInstance(const wchar_t* logFileName);
// Process-wide equivalents of LogExport, used when GetLogInstance gave null.
TARNBASE_API bool IsLogLevelEnabled(unsigned short level);
TARNBASE_API void DoLog2(unsigned short level, const char* category, const char* file,
                         unsigned short line, const char* macro, const wchar_t* text,
                         const char* module);

// The id of a database name, registered on first use and valid for the life
// of the process.
TARNBASE_API uint16_t insert_name_id(const wchar_t* name);

// Intrusive reference to a reference-counted host database object: copying
// takes a reference (addRef), destruction and reassignment give one back
// (releaseRef). An empty comptr holds null.
template <typename T>
class comptr {
public:
    comptr() = default;
    // Adopts a reference the caller already holds.
    static comptr adopt(T* object) {
        comptr result;
        result.m_p = object;
        return result;
    }
    comptr(const comptr& other) : m_p(other.m_p) {
        if (m_p) m_p->addRef();
    }
    comptr(comptr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    comptr& operator=(const comptr& other) {
        comptr(other).swap(*this);
        return *this;
    }
    comptr& operator=(comptr&& other) noexcept {
        comptr(static_cast<comptr&&>(other)).swap(*this);
        return *this;
    }
    ~comptr() { reset(); }

    void reset() {
        if (m_p) {
            T* p = m_p;
            m_p = nullptr;
            p->releaseRef();
        }
    }
    void swap(comptr& other) noexcept {
        T* p = m_p;
        m_p = other.m_p;
        other.m_p = p;
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

namespace Data {

// Every database object is reference counted through addRef/releaseRef.
// None of these interfaces has a virtual destructor, so their slots are
// numbered alike under every ABI: IRefCounted 0 addRef, 1 releaseRef;
// IField adds 2 getUInt32; IDatabase adds 2 getTable, 3 getField.
class IRefCounted {
public:
    virtual void addRef() = 0;
    virtual void releaseRef() = 0;

protected:
    ~IRefCounted() = default;
};

// A table of the channel database. The module only holds a reference to it.
class ITable : public IRefCounted {
protected:
    ~ITable() = default;
};

// A field object: named 32-bit values of one channel.
class IField : public IRefCounted {
public:
    virtual uint32_t getUInt32(const uint16_t& nameId) = 0;

protected:
    ~IField() = default;
};

// The database of one channel session.
class IDatabase : public IRefCounted {
public:
    virtual comptr<ITable> getTable(const uint16_t& nameId) = 0;
    virtual comptr<IField> getField(const uint16_t& nameId) = 0;

protected:
    ~IDatabase() = default;
};

// The database of the channel session `sid`; empty when there is none.
TARNBASE_API comptr<IDatabase> queryDatabase(uint64_t sid);

}  // namespace Data
