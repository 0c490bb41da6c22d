// Base of every wire record.
//
// A record's encoding is its fields in a fixed order with no tags, names or
// lengths of its own; marshal and unmarshal walk the same order. The records
// of this project derive from Record<R> (Fields.h), which makes both walks of
// the record's one field list.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

#include "marshal/Pack.h"
#include "marshal/Unpack.h"

namespace pakt {

class Marshallable {
public:
    virtual void marshal(Pack& p) const = 0;
    virtual void unmarshal(Unpack& up) = 0;
    virtual ~Marshallable() = default;
    // The host library's default rendering, word for word, spelling
    // included: hosts and their logs see this text for every record, since
    // no record of the module overrides trace.
    virtual std::ostream& trace(std::ostream& os) const { return os << "trace Marshallable [ not immplement ]"; }
    virtual std::string toString() const {
        std::ostringstream os;
        trace(os);
        return os.str();
    }
};

}  // namespace pakt
