#pragma once
// Operations that reshape TXM object trees: merge, cut per model / per core, copy,
// replace a weight, strip payloads, encrypt payloads.
//
// Every operation that builds a new container packs it into a fresh builder and parses
// the finished bytes back (TxmReader::Parse), so a result is an independent, verified tree.
// Broken preconditions throw TalvexException(ErrorCode::UnexpectedValue, <text>); an address
// file that cannot relocate a core throws InvalidProgramInput. Nothing is produced then.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "txm/txm_func.h"
#include "txm_generated.h"

class Encoder;

namespace TXM {

using TxmModels = std::vector<std::unique_ptr<TalvexTXM::ModelT>>;
using TxmCores = std::vector<std::unique_ptr<TalvexTXM::CoreT>>;
using TxmBufferInfos = std::vector<std::unique_ptr<TalvexTXM::BufferInfoT>>;

// First model with header id `id` (the first model for -1); nullptr when none.
TalvexTXM::ModelT* GetModel(const TxmModels& models, int32_t id);
// Depth-first through exe_unit: first core with header id `id` (any core for -1); nullptr
// when none, silently.
TalvexTXM::CoreT* GetCore(const TxmCores& cores, int32_t id);
// Start address (low 32 bits) of the first entry of `location`; throws when there is none.
uint32_t GetBufferAddr(const TxmBufferInfos& buffer_info, TalvexTXM::Location location);

// Initial builder size for packing a container of this one model: its payloads, with some room
// for the rest, so that a large model is packed without the builder growing on the way.
size_t PackCapacity(const TalvexTXM::ModelT& model);

// Merges txms (at least one) into result: the first container's magic and header with
// hdr_buf_info as the header's buffer list, then every model of every input in order.
// -1 when the targets or the input addresses differ (lines for standard output); a parse code
// when the packed result does not verify. result changes only on success.
talvex::Status CombineTxm(TalvexTXM::TXMContentT& result, const std::vector<TalvexTXM::TXMContentT>& txms,
                          const BufferLayout& hdr_buf_info);

// One single-model container per model of txm (only model_id unless it is -1), keyed by
// model id; results is cleared first. Succeeds also when nothing matched.
talvex::Status TrimModel(std::map<int32_t, TalvexTXM::TXMContentT>& results, const TalvexTXM::TXMContentT& txm,
              int32_t model_id);
// The single-model container of one of txm's models (txm's magic and header, that model), for
// callers that visit many models and cannot afford a scan of txm per model. result changes
// only on success.
talvex::Status TrimModel(TalvexTXM::TXMContentT& result, const TalvexTXM::TXMContentT& txm,
                         const TalvexTXM::ModelT& model);

// Stand-alone container for core core_id of the single model of txm: one core (id 0, type
// NPU, no dependency) and a model header whose buffer list is the file header's, relocated
// to the addresses of the JSON file json_path. The source is left unchanged.
// -1 when the core is not there.
talvex::Status TrimCore(TalvexTXM::TXMContentT& result, const TalvexTXM::TXMContentT& txm, int32_t core_id,
             const std::string& json_path);

// dst = an independent copy of src. Fails with the parse code (dst unchanged).
talvex::Status DeepCopy(TalvexTXM::TXMContentT& dst, const TalvexTXM::TXMContentT& src);

// Replaces the weight of NPU core core_id of model model_id with the bytes of the file
// src_wt and sets the model's wt_ref_model_id. Codes: -1 unreadable file, -2 no model,
// -3 no core, -4 not an NPU core. txm changes only on success.
talvex::Status UpdateWeight(TalvexTXM::TXMContentT& txm, int32_t model_id, int32_t core_id,
                 const std::string& src_wt, int32_t wt_ref_model_id);

void RemoveModelCores(TalvexTXM::TXMContentT& txm);
// cmd and weight of every NPU core and of every loop's npu_params, through exe_unit.
void RemoveAllCoresBinaryPayload(TalvexTXM::TXMContentT& txm);
void RemoveModelConstantInputData(TalvexTXM::TXMContentT& txm);
void RemoveModelHeaderInputsOutputsDma(TalvexTXM::TXMContentT& txm);
void TrimBinary(TalvexTXM::TXMContentT& txm, bool reserve_core_binary, bool reserve_const_input);

// Encrypts every NPU payload in place (cmd with unit 4, weight with unit 16; NPU cores nested
// in a LOOP core too) and marks each model CustKey (key bytes = decrypt key data of c_key and
// key_file) or, without key_file, EFuse. Every model must be NoEnc. All checks run before the
// first byte changes, so a refused tree stays as it was. Returns 0.
int PostEnc(TalvexTXM::TXMContentT& txm, uint32_t tv_number, uint32_t c_key, const std::string& key_file);
// The same with the key read already: encoder scrambles; key_data (the decrypt key data bytes)
// marks every model CustKey, or EFuse when it is empty.
int PostEnc(TalvexTXM::TXMContentT& txm, const Encoder& encoder, const std::vector<uint8_t>& key_data);

}  // namespace TXM
