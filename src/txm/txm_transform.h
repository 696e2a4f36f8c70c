#pragma once
// Operations that reshape TXM object trees: merge, cut per model / per core, copy,
// replace a weight, strip payloads, encrypt payloads.
//
// Every operation that builds a new container packs it into a fresh builder and parses
// the finished bytes back (TxmReader::Parse), so a result is an independent, verified tree.
// Broken preconditions throw TalvexException(ErrorCode::UnexpectedValue, <text>); an address
// file that cannot relocate a core throws InvalidProgramInput. Nothing is produced then.
#include <cstdint>
#include <functional>
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

// Initial builder size for packing a container of this one model: its payloads, with some room
// for the rest, so that a large model is packed without the builder growing on the way.
size_t PackCapacity(const TalvexTXM::ModelT& model);

// Hands fn(id, one) a single-model container (txm's magic and header, one model) for each model
// id of txm in ascending order (for an id held by several models, the last of them), only for
// model_id unless it is -1. Each model is moved out of txm, which loses the models of an id once
// they are handed over (no model is held twice); the header is lent to each container and put
// back after the call (fn must leave it there). Packing such a container gives the bytes of
// packing a copy of it. Stops at the first fn that returns non-zero, and returns that.
int ForEachModelById(TalvexTXM::TXMContentT& txm, int32_t model_id,
                     const std::function<int(int32_t id, TalvexTXM::TXMContentT& one)>& fn);

// Stand-alone container for core core_id of the single model of txm: one core (id 0, type
// NPU, no dependency) and a model header whose buffer list is the file header's, relocated
// to the addresses of the JSON file json_path. The source is left unchanged.
// -1 when the core is not there.
talvex::Status TrimCore(TalvexTXM::TXMContentT& result, const TalvexTXM::TXMContentT& txm, int32_t core_id,
             const std::string& json_path);

// cmd and weight of every NPU core and of every loop's npu_params, through exe_unit.
void RemoveAllCoresBinaryPayload(TalvexTXM::TXMContentT& txm);
void RemoveModelConstantInputData(TalvexTXM::TXMContentT& txm);
void TrimBinary(TalvexTXM::TXMContentT& txm, bool reserve_core_binary, bool reserve_const_input);

// Encrypts every NPU payload in place (cmd with unit 4, weight with unit 16; NPU cores nested in
// a LOOP core too) with encoder, and marks each model CustKey with key_data (the decrypt key
// data bytes) or, when it is empty, EFuse. Every model must be NoEnc. All checks run before the
// first byte changes, so a refused tree stays as it was (a refusal throws: it stops the command).
void PostEnc(TalvexTXM::TXMContentT& txm, const Encoder& encoder, const std::vector<uint8_t>& key_data);

}  // namespace TXM
