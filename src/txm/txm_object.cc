#include "txm/txm_object.h"

namespace TXM {

flatbuffers::Offset<TalvexTXM::TXMContent> PackTxm(flatbuffers::FlatBufferBuilder& fbb,
                                                   const TalvexTXM::TXMContentT& txm) {
  return TalvexTXM::TXMContent::Pack(fbb, &txm);
}

flatbuffers::Offset<TalvexTXM::TXMHeader> PackTxmHeader(flatbuffers::FlatBufferBuilder& fbb,
                                                        const TalvexTXM::TXMHeaderT& header) {
  return TalvexTXM::TXMHeader::Pack(fbb, &header);
}

flatbuffers::Offset<TalvexTXM::Model> PackModel(flatbuffers::FlatBufferBuilder& fbb, const TalvexTXM::ModelT& model) {
  return TalvexTXM::Model::Pack(fbb, &model);
}

std::unique_ptr<TalvexTXM::ModelT> UnpackModel(const TalvexTXM::Model& model) {
  return std::unique_ptr<TalvexTXM::ModelT>(model.UnPack());
}

}  // namespace TXM
