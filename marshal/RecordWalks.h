// The walks behind Record<R>::marshal and unmarshal.
//
// Included by the file that instantiates them for a family of records
// (template class pakt::Record<X>; for each record X), and by nothing that
// merely uses records: every record's walks are then compiled once, and a
// record missing from its family's list fails to link.
#pragma once

#include "marshal/Fields.h"

namespace pakt {

template <class R>
void Record<R>::marshal(Pack& p) const {
    packFields(static_cast<const R&>(*this), p);
}

template <class R>
void Record<R>::unmarshal(Unpack& up) {
    unpackFields(static_cast<R&>(*this), up);
}

}  // namespace pakt
