#include "txm/txm_payloads.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/fb_unpack.h"
#include "txm/txm_reader.h"
#include "txm/txm_transform.h"
#include "txm/txm_verify.h"

namespace TXM {
namespace {

// The generated UnPack copies byte vectors element by element through an iterator, far below
// memory speed. The payload vectors (NPU cmd / weight, loop npu_params, const_input) are
// therefore unpacked from a copy in which their lengths read 0, and filled with memcpy after.

using FlatBytes = flatbuffers::Vector<uint8_t>;
constexpr int kMaxCoreDepth = 64;

// Visits the payload vectors of one core and its nested cores, in a fixed order; tree is null
// while only the flat buffer is walked.
template <typename Visit>
void WalkCore(const TalvexTXM::Core* flat, TalvexTXM::CoreT* tree, int depth, Visit& visit) {
  if (flat == nullptr) return;
  auto npu = [&](const TalvexTXM::NPUEUParams* f, TalvexTXM::NPUEUParamsT* t) {
    if (f == nullptr) return;
    visit(f->cmd(), t != nullptr ? &t->cmd : nullptr);
    visit(f->weight(), t != nullptr ? &t->weight : nullptr);
  };
  if (const auto* f = flat->eu_params_as_NPUEUParams()) {
    npu(f, tree != nullptr ? tree->eu_params.AsNPUEUParams() : nullptr);
  } else if (const auto* loop = flat->eu_params_as_LoopEUParams()) {
    TalvexTXM::LoopEUParamsT* t = tree != nullptr ? tree->eu_params.AsLoopEUParams() : nullptr;
    npu(loop->npu_params(), t != nullptr ? t->npu_params.get() : nullptr);
  }
  const auto* subs = flat->exe_unit();
  if (subs == nullptr || depth >= kMaxCoreDepth) return;
  for (flatbuffers::uoffset_t i = 0; i < subs->size(); ++i) {
    TalvexTXM::CoreT* sub = tree != nullptr && i < tree->exe_unit.size() ? tree->exe_unit[i].get() : nullptr;
    WalkCore(subs->Get(i), sub, depth + 1, visit);
  }
}

template <typename Visit>
void WalkModel(const TalvexTXM::Model* fm, TalvexTXM::ModelT* tm, Visit& visit) {
  visit(fm->const_input(), tm != nullptr ? &tm->const_input : nullptr);
  const auto* cores = fm->cores();
  if (cores == nullptr) return;
  for (flatbuffers::uoffset_t c = 0; c < cores->size(); ++c) {
    TalvexTXM::CoreT* tc = tm != nullptr && c < tm->cores.size() ? tm->cores[c].get() : nullptr;
    WalkCore(cores->Get(c), tc, 0, visit);
  }
}

template <typename Visit>
void WalkPayloads(const TalvexTXM::TXMContent* flat, TalvexTXM::TXMContentT* tree, Visit& visit) {
  const auto* models = flat->models();
  if (models == nullptr) return;
  for (flatbuffers::uoffset_t m = 0; m < models->size(); ++m) {
    TalvexTXM::ModelT* tm = tree != nullptr && m < tree->models.size() ? tree->models[m].get() : nullptr;
    WalkModel(models->Get(m), tm, visit);
  }
}

// Fills tree's payload vectors from flat's; complete turns false where the tree lacks one.
struct PayloadFiller {
  PayloadSpares* spares = nullptr;
  bool complete = true;
  void operator()(const FlatBytes* v, std::vector<uint8_t>* t) {
    if (v == nullptr || v->size() == 0) return;
    if (t == nullptr) {
      complete = false;
      return;
    }
    if (spares != nullptr) *t = spares->Get(v->size());
    t->assign(v->Data(), v->Data() + v->size());
  }
};

}  // namespace

bool MakeThinTxm(const uint8_t* data, size_t size, talvex::PayloadBuffer& thin) {
  const auto* root = flatbuffers::GetRoot<TalvexTXM::TXMContent>(data);
  std::vector<std::pair<size_t, size_t>> ranges;  // length word offset, bytes after it
  auto collect = [&](const FlatBytes* v, std::vector<uint8_t>*) {
    if (v != nullptr && v->size() != 0) ranges.emplace_back(static_cast<size_t>(v->Data() - data) - 4, v->size());
  };
  WalkPayloads(root, nullptr, collect);
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    // Shared or overlapping vectors: the plain way keeps every reference intact.
    if (ranges[i - 1].first + 4 + ranges[i - 1].second > ranges[i].first) return false;
  }
  thin = talvex::PayloadBuffer(size, false);  // only the tables between the payloads are written
  size_t at = 0;
  for (const auto& r : ranges) {
    std::memcpy(thin.data() + at, data + at, r.first - at);
    talvex::StoreLE32(thin.data() + r.first, 0);
    at = r.first + 4 + r.second;
  }
  std::memcpy(thin.data() + at, data + at, size - at);
  return true;
}

talvex::Status UnpackTxmTables(TalvexTXM::TXMContentT& txm, const uint8_t* data, size_t size) {
  talvex::PayloadBuffer thin;
  // MakeThinTxm walks the buffer: only a verified one, within the unpacking budget, gets there.
  const bool parses = VerifyTXMBuffer(data, size) &&
                      talvex::UnpacksWithinBudget(data, size, TalvexTXM::TXMContentTypeTable());
  if (parses && MakeThinTxm(data, size, thin)) return TxmReader::Parse(txm, thin.data(), size);
  talvex::Status parsed = TxmReader::Parse(txm, data, size);
  if (parsed.ok()) TrimBinary(txm, false, false);
  return parsed;
}

void PayloadSpares::Take(const TalvexTXM::Model* flat, TalvexTXM::ModelT* tree) {
  auto take = [&](const FlatBytes*, std::vector<uint8_t>* t) {
    if (t != nullptr && t->capacity() != 0) spares_.push_back(std::move(*t));
  };
  WalkModel(flat, tree, take);
}

std::vector<uint8_t> PayloadSpares::Get(size_t n) {
  auto pick = spares_.end();
  for (auto it = spares_.begin(); it != spares_.end(); ++it) {
    const bool fits = it->capacity() >= n;
    const bool pick_fits = pick != spares_.end() && pick->capacity() >= n;
    if (pick == spares_.end() || (fits && (!pick_fits || it->capacity() < pick->capacity())) ||
        (!fits && !pick_fits && it->capacity() > pick->capacity())) {
      pick = it;
    }
  }
  if (pick == spares_.end()) return {};
  std::vector<uint8_t> v = std::move(*pick);
  spares_.erase(pick);
  return v;
}

bool FillModelPayloads(const TalvexTXM::Model* flat, TalvexTXM::ModelT* tree, PayloadSpares* spares) {
  PayloadFiller fill;
  fill.spares = spares;
  WalkModel(flat, tree, fill);
  return fill.complete;
}

void ForEachModelPayload(const TalvexTXM::Model* flat, const std::function<void(const uint8_t*, size_t)>& visit) {
  auto each = [&](const FlatBytes* v, std::vector<uint8_t>*) {
    if (v != nullptr && v->size() != 0) visit(v->Data(), v->size());
  };
  WalkModel(flat, nullptr, each);
}

namespace {

void PairPayload(const FlatBytes* packed, const FlatBytes* input, size_t min_size, std::vector<PackedPayload>& out) {
  if (packed != nullptr && input != nullptr && packed->size() == input->size() && packed->size() >= min_size) {
    out.push_back({packed->data(), input->data(), packed->size()});
  }
}

void PairPayloads(const TalvexTXM::NPUEUParams* packed, const TalvexTXM::NPUEUParams* input, size_t min_size,
                  std::vector<PackedPayload>& out) {
  if (packed == nullptr || input == nullptr) return;
  PairPayload(packed->cmd(), input->cmd(), min_size, out);
  PairPayload(packed->weight(), input->weight(), min_size, out);
}

// The payloads of a core packed from input (same tree, so walked side by side).
void PairPayloads(const TalvexTXM::Core* packed, const TalvexTXM::Core* input, size_t min_size,
                  std::vector<PackedPayload>& out, int depth) {
  if (packed == nullptr || input == nullptr || depth > kMaxCoreDepth) return;
  PairPayloads(packed->eu_params_as_NPUEUParams(), input->eu_params_as_NPUEUParams(), min_size, out);
  const auto* packed_loop = packed->eu_params_as_LoopEUParams();
  const auto* input_loop = input->eu_params_as_LoopEUParams();
  if (packed_loop != nullptr && input_loop != nullptr) {
    PairPayloads(packed_loop->npu_params(), input_loop->npu_params(), min_size, out);
  }
  const auto *a = packed->exe_unit(), *b = input->exe_unit();
  for (flatbuffers::uoffset_t i = 0; a != nullptr && b != nullptr && i < a->size() && i < b->size(); ++i) {
    PairPayloads(a->Get(i), b->Get(i), min_size, out, depth + 1);
  }
}

}  // namespace

void PairPackedPayloads(const TalvexTXM::Model* packed, const TalvexTXM::Model* input, size_t min_size,
                        std::vector<PackedPayload>& out) {
  PairPayload(packed->const_input(), input->const_input(), min_size, out);
  const auto *a = packed->cores(), *b = input->cores();
  for (flatbuffers::uoffset_t i = 0; a != nullptr && b != nullptr && i < a->size() && i < b->size(); ++i) {
    PairPayloads(a->Get(i), b->Get(i), min_size, out, 0);
  }
}

}  // namespace TXM
