#include "setup/setup_fb_reader.h"

#include <utility>

#include "common/fb_unpack.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "flatbuffers/minireflect.h"
#include "setup/setup_recognise.h"

uint64_t SetupFBReader::UnpackedBytes(const uint8_t* bin, uint64_t cap) {
  return talvex::UnpackedBytes(flatbuffers::GetRoot<uint8_t>(bin), TalvexSetup::INFContentTypeTable(), cap);
}

uint64_t SetupFBReader::MaxUnpackedBytes(size_t size) { return talvex::MaxUnpackedBytes(size); }

talvex::Status SetupFBReader::Parse(TalvexSetup::INFContentT& content, const uint8_t* bin, size_t size) {
  static const char* const kNotValid = "Not a valid setup flatbuffer file.";
  if (!Setup::IsFBSetup(bin, size)) return talvex::Status::Error(kNotValid);
  const uint64_t limit = MaxUnpackedBytes(size);
  const uint64_t need = UnpackedBytes(bin, limit);
  if (need > limit) {
    talvex::Status st =
        TALVEX_STATUS_ERROR(LogCateg::Setup, "setup.bin of {} bytes would unpack to more than {} bytes", size, limit);
    return st.Err(kNotValid);
  }
  // A fresh tree: UnPackTo leaves members the buffer lacks as they were.
  TalvexSetup::INFContentT fresh;
  flatbuffers::GetRoot<TalvexSetup::INFContent>(bin)->UnPackTo(&fresh);
  // Every user of the tree (the JSON view's repack, post-encryption's rewrite) then sees an
  // options tag without its value as no options at all.
  for (auto& op : fresh.cpu_nodes) {
    if (op) talvex::ClearEmptyOptionUnions(*op);
  }
  content = std::move(fresh);
  return talvex::Status();
}

flatbuffers::Offset<TalvexSetup::INFContent> SetupFBReader::Pack(flatbuffers::FlatBufferBuilder& fbb,
                                                                 const TalvexSetup::INFContentT& content) {
  return TalvexSetup::INFContent::Pack(fbb, &content);
}
