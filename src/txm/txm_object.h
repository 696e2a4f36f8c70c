#pragma once
// Whole-tree Pack and UnPack of the TXM schema. The generated object API is most of the code
// the schema headers produce; callers outside this module go through these functions so that
// it is compiled once, here, instead of once per caller.
#include <memory>

#include "txm_generated.h"

namespace TXM {

flatbuffers::Offset<TalvexTXM::TXMContent> PackTxm(flatbuffers::FlatBufferBuilder& fbb,
                                                   const TalvexTXM::TXMContentT& txm);
flatbuffers::Offset<TalvexTXM::TXMHeader> PackTxmHeader(flatbuffers::FlatBufferBuilder& fbb,
                                                        const TalvexTXM::TXMHeaderT& header);
flatbuffers::Offset<TalvexTXM::Model> PackModel(flatbuffers::FlatBufferBuilder& fbb, const TalvexTXM::ModelT& model);
// A verified model table as a fresh tree (unions are left as the generated code unpacks them).
std::unique_ptr<TalvexTXM::ModelT> UnpackModel(const TalvexTXM::Model& model);

}  // namespace TXM
