#pragma once
// Guards shared by the FlatBuffers readers for what the verifier lets through but unpacking
// or repacking cannot take: tables shared many times (a small buffer that unpacks into
// gigabytes) and union tags without their value (a null that repacking dereferences).
#include <cstddef>
#include <cstdint>

#include "flatbuffers/minireflect.h"

namespace talvex {

// Bytes of tables, strings and vectors that unpacking the VERIFIED table at `table` (of type
// `tt`) would allocate, each shared reference counted once per copy. Stops counting past cap.
uint64_t UnpackedBytes(const uint8_t* table, const flatbuffers::TypeTable* tt, uint64_t cap);
// What a buffer of `size` bytes may expand to on unpack: a few times a small buffer, at most
// 1 GiB or the buffer's size plus 256 MiB, whichever is larger.
uint64_t MaxUnpackedBytes(size_t size);
// True when the verified buffer's root (of type tt) unpacks within MaxUnpackedBytes(size).
bool UnpacksWithinBudget(const uint8_t* buf, size_t size, const flatbuffers::TypeTable* tt);

// An operator's options union unpacked from a known tag without its value has a type and a
// null value; repacking casts the null to that member and reads through it. Read it as "no
// options", here and in the operators nested in fusion and slice options, for any schema
// whose Operator carries `builtin_options` (the TXM and setup schemas share that shape).
// A tag this build does not know packs as no value and keeps its number for the views.
// Depth is bounded by the verifier's nesting limit.
template <typename OperatorT>
void ClearEmptyOptionUnions(OperatorT& op) {
  auto& opts = op.builtin_options;
  using Type = decltype(opts.type);
  if (opts.value == nullptr) {
    if (opts.type <= Type::MAX) opts.type = Type::NONE;
  } else if (auto* fusion = opts.AsFusionOptions()) {
    for (auto& node : fusion->node_list) {
      if (node) ClearEmptyOptionUnions(*node);
    }
  } else if (auto* slice = opts.AsSliceHeaderOptions()) {
    for (auto& node : slice->group_nodes) {
      if (node) ClearEmptyOptionUnions(*node);
    }
  }
}

}  // namespace talvex
