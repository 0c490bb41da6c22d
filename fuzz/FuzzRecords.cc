// fuzz_records: every record and payload decoder of the wire records, as
// sapp-host maps them to JSON and as the module's own marshalling reads
// them. The first input byte picks the record (in the order of
// sapphost::recordNames()), the second the direction
// (for SDK V2 payloads); the rest are its bytes.
//
// Whatever decodes must be in canonical form or be reported as not in it
// by the check decode uses (checkCanonical), and the canonical bytes must
// be a fixed point: they decode to the same fields, are canonical
// themselves, and are what the module's marshal writes after its unmarshal.
// Only pakt::UnpackError may leave a decoder. And the module's check of a
// record's bytes without building it must agree with its read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "marshal/ReadCheck.h"
#include "protocol/PacketVisitor.h"
#include "tools/sapp-host/records/Canonical.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace {

namespace ps = protocol::session;
using sapphost::Decoded;
using sapphost::Direction;

[[noreturn]] void finding(const std::string& record, const std::string& what, std::string_view bytes) {
    std::cerr << "fuzz_records: " << record << ": " << what << "\ninput: " << sapphost::toHex(bytes) << "\n";
    std::abort();
}

// The module's own reading and writing of record R.
template <typename R> std::string repack(std::string_view bytes) {
    R record;
    pakt::Unpack up(bytes.data(), bytes.size());
    record.unmarshal(up);
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    record.marshal(pack);
    return pack.str();
}

// The check the module makes before it builds a long list (pakt::readable,
// pakt::checkReadable) must agree with its read: the same answer, and where
// the read fails, the same error. Empty when they agree.
template <typename R> std::string checkAgrees(std::string_view bytes) {
    std::string readError;
    try {
        R record;
        pakt::Unpack up(bytes.data(), bytes.size());
        record.unmarshal(up);
    } catch (const pakt::UnpackError& e) {
        readError = e.what();
    }
    if (pakt::readable<R>(bytes) != readError.empty()) {
        return readError.empty() ? "the read succeeds, the check without building says it fails"
                                 : "the read fails (" + readError + "), the check without building says it reads";
    }
    std::string checkError;
    try {
        pakt::checkReadable<R>(bytes);
    } catch (const pakt::UnpackError& e) {
        checkError = e.what();
    }
    if (checkError != readError) return "the read fails with \"" + readError + "\", the check with \"" + checkError + "\"";
    return {};
}

struct ModuleCodec {
    std::string_view name;
    std::string (*repack)(std::string_view);
    std::string (*checkAgrees)(std::string_view);
};

// The packet table's decoded packets, then the records nested in them.
std::vector<ModuleCodec> moduleCodecs() {
    std::vector<ModuleCodec> codecs;
    ps::forEachPacket([&codecs](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P>) {
            using R = typename P::Record;
            codecs.push_back({P::name, repack<R>, checkAgrees<R>});
        }
    });
    ps::forEach(ps::NestedRecords{}, [&codecs]<class N>() {
        using R = typename N::Record;
        codecs.push_back({N::name, repack<R>, checkAgrees<R>});
    });
    return codecs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    sappfuzz::noteInputSize("fuzz_records", size);
    static const std::vector<std::string> names = sapphost::recordNames();
    sappfuzz::FuzzInput in(data, size);
    const std::string& name = names[in.byte() % names.size()];
    const Direction direction = in.byte() & 1 ? Direction::Up : Direction::Down;
    const std::string bytes = in.rest();
    // The module's own codec; none for SdkV2Payload, which is not a record.
    static const std::vector<ModuleCodec> codecs = moduleCodecs();
    std::string (*repack)(std::string_view) = nullptr;
    for (const ModuleCodec& codec : codecs) {
        if (codec.name != name) continue;
        repack = codec.repack;
        if (const std::string disagreement = codec.checkAgrees(bytes); !disagreement.empty()) {
            finding(name, disagreement, bytes);
        }
    }

    Decoded decoded;
    try {
        decoded = sapphost::decodeRecord(name, bytes, direction);
    } catch (const pakt::UnpackError&) {
        return 0;
    }
    const auto nonCanonical = sapphost::checkCanonical(name, bytes, decoded);
    const std::string canonical = nonCanonical ? nonCanonical->canonical : bytes.substr(0, decoded.consumed);

    Decoded again;
    try {
        again = sapphost::decodeRecord(name, canonical, direction);
    } catch (const pakt::UnpackError& e) {
        finding(name, std::string("the canonical bytes do not decode: ") + e.what(), bytes);
    }
    if (again.consumed != canonical.size()) finding(name, "the canonical bytes leave bytes over", bytes);
    if (again.fields != decoded.fields) finding(name, "the canonical bytes decode to other fields", bytes);
    if (sapphost::checkCanonical(name, canonical, again)) finding(name, "the canonical bytes are not canonical", bytes);
    if (repack && repack(bytes) != canonical) {
        finding(name, "the module's marshal writes other bytes than encode", bytes);
    }
    return 0;
}
