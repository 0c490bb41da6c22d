// fuzz_cost's own mutations: notices of the shapes that cost the module
// most per byte, with their sizes, orders and repetitions drawn at random.
//
// libFuzzer's byte-level mutations rarely write a zlib stream or a list of
// a million entries that still decodes. These write whole packets instead,
// each list drawn from the shapes an attacker would try:
//   - keys ascending, in bit-reversed rounds (each far from the one before)
//     or at random, repeated round after round;
//   - listings naming one id in long runs, a few ids in turn, or any;
//   - packs with many version items or proxies, ascending, descending, in
//     turn or at random, some for another app than their key;
//   - lists cut short late: a count one too high, or the last bytes gone;
// zipped (as the host inflates them) to the host's 4 MiB limit, in packets
// of up to 64 KB: PAddAppReq, PDelAppReq, and the SDK V2 and V3 adds and
// proxy updates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sappfuzz {

// A program of the action language that opens session slot 0 and delivers
// one such packet, drawn from `seed`.
std::string costlyNotice(uint32_t seed);

// The mutation: keeps a prefix of the program in `data` (`size` bytes, at
// most `maxSize`) and appends a costlyNotice; answers the new size.
std::size_t mutateTowardsCost(uint8_t* data, std::size_t size, std::size_t maxSize, uint32_t seed);

}  // namespace sappfuzz
