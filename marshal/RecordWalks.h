// The walks behind Record<R>::marshal and unmarshal.
//
// Included by every header that defines records (protocol/PluginRecords.h,
// protocol/SessionRecords.h), so that whoever can name a record can also
// compile its walks: a host built against the installed headers alone gets
// them compiled in its own translation units wherever it copies, marshals
// or destroys a record, since the record's virtual table names them.
//
// Inside this project they are still compiled once per record. Each record
// header declares its records' Record<R> as explicitly instantiated
// elsewhere (extern template) when SAPP_RECORD_WALKS_LINKED is defined,
// which every target linking sapp_protocol is given; protocol/Records.cc,
// part of sapp_protocol, holds the instantiations. A record declared there
// but missing from Records.cc fails to link.
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
