#pragma once
// The payload vectors of a TXM file (NPU cmd / weight, a loop's npu_params, const_input) apart
// from its tables. The generated UnPack copies byte vectors element by element, far below memory
// speed: trees are unpacked from a copy whose payloads read as empty, and the payloads copied
// after, one model at a time if need be; the pages of payloads read for the last time can be
// given back, and packed payloads found again beside the input bytes they were copied from.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/payload_memory.h"
#include "common/status.h"
#include "txm_generated.h"

namespace TXM {

// Copies a verified TXM buffer with every payload vector reading as empty (its bytes are not
// copied, so the pages stay untouched); false when payload vectors are shared or overlap
// (unpack the plain way then). A table at offset x of data lies at offset x of thin.
bool MakeThinTxm(const uint8_t* data, size_t size, talvex::PayloadBuffer& thin);
// The tree TxmReader::Parse gives, less its payload vectors (they read as empty, as
// TrimBinary(txm, false, false) leaves them), unpacked from a copy of the tables: the payload
// bytes are neither read nor copied. Refuses what TxmReader::Parse refuses.
talvex::Status UnpackTxmTables(TalvexTXM::TXMContentT& txm, const uint8_t* data, size_t size);
// Payload vectors of models already packed, kept to be filled by the next model: its payloads
// then land in pages already faulted in rather than in fresh mappings of the allocator, which
// costs a page fault per 4 KiB. Held by the loop over models, so no allocator setting is needed.
class PayloadSpares {
 public:
  // Moves the payload vectors of tree (unpacked from flat) here.
  void Take(const TalvexTXM::Model* flat, TalvexTXM::ModelT* tree);
  // The spare with the least room for n bytes, else the largest (it grows), else a new one.
  std::vector<uint8_t> Get(size_t n);

 private:
  std::vector<std::vector<uint8_t>> spares_;
};
// Copies the payload vectors of flat (a model of the original buffer) into tree, unpacked from
// the thin copy of that model, into vectors from spares when given; false when tree does not
// mirror flat.
bool FillModelPayloads(const TalvexTXM::Model* flat, TalvexTXM::ModelT* tree, PayloadSpares* spares = nullptr);
// Each non-empty payload vector of a verified model, in a fixed order.
void ForEachModelPayload(const TalvexTXM::Model* flat, const std::function<void(const uint8_t*, size_t)>& visit);

// A payload vector packed into a builder, and the input vector holding the same bytes.
struct PackedPayload {
  const uint8_t* packed;
  const uint8_t* input;
  size_t size;
};
// The payloads of at least min_size bytes of packed, a model packed from the tree of input.
void PairPackedPayloads(const TalvexTXM::Model* packed, const TalvexTXM::Model* input, size_t min_size,
                        std::vector<PackedPayload>& out);

}  // namespace TXM
