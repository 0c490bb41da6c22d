// The walks behind Record<R>::marshal and unmarshal.
//
// Included by every header that defines records (protocol/PluginRecords.h,
// protocol/SessionRecords.h), so that whoever can name a record can also
// compile its walks: a host built against the installed headers alone gets
// them compiled in its own translation units wherever it copies, marshals
// or destroys a record, since the record's virtual table names them.
//
// Inside this project they are still compiled once per record. Each record
// header names its records once more, at its end, with PAKT_RECORD_WALKS,
// which says where their walks are compiled:
//   - in protocol/Records.cc, which defines SAPP_RECORD_WALKS_HERE and
//     includes the record headers: there it is the explicit instantiation;
//   - for every other target linking sapp_protocol (which is given
//     SAPP_RECORD_WALKS_LINKED): an explicit instantiation declaration
//     (extern template), so that no translation unit compiles its own;
//   - for a host built against the installed headers: nothing, and the
//     walks are compiled where they are needed.
// So a record gains its compiled walks with the one line in its own header,
// and a record without the line is compiled wherever it is used.
#pragma once

#include "marshal/Fields.h"

namespace pakt {

template <class R>
void Record<R>::marshal(Pack& p) const {
    packFields(static_cast<const R&>(*this), p);
}

template <class R>
void Record<R>::unmarshal(Unpack& up) {
    readFields(static_cast<R&>(*this), up);
}

}  // namespace pakt

// At global scope, after the record's definition (see the top of this file).
#if defined(SAPP_RECORD_WALKS_HERE)
#define PAKT_RECORD_WALKS(...) template class pakt::Record<__VA_ARGS__>;
#elif defined(SAPP_RECORD_WALKS_LINKED)
#define PAKT_RECORD_WALKS(...) extern template class pakt::Record<__VA_ARGS__>;
#else
#define PAKT_RECORD_WALKS(...)
#endif
