#pragma once
// Writing BNX containers: generation from a payload file (TXM, or the legacy fw_info.bin +
// all_models.bin pair) and the one packer/writer every container writer goes through.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bnx/legacy_files.h"
#include "bnx_generated.h"
#include "common/file_io.h"

struct BNX_ModelInfo {
  std::string name;
  uint32_t id = 0;
  uint32_t version = 0;
};

// Everything the container writer needs.
struct BNX_Args {
  std::string fw_info_path;     // empty for a TXM payload
  std::string all_models_path;  // all_models.bin, or the TXM file for schema major 2
  std::string compiler_version;
  std::string toolchain_version;
  std::string platform;
  std::string target;  // "100" ... "600"
  uint32_t tv_number = 0;
  int8_t encryption_mode = 0;        // ENCMode value
  std::vector<BNX_ModelInfo> models;  // empty: taken from the payload
  uint32_t uuid = 0;
  std::string solution_id;
  std::string solution_tag;
  // Set uuid to the CRC-32 of the payload bytes the container is built from (generation mode),
  // so uuid and header crc cannot disagree.
  bool uuid_from_payload = false;
};

namespace BNXUtils {

// The payload and everything derived from it, read once for one generation: the header CRC,
// the uuid, the model list and the stored vectors all come from these same bytes.
struct GenInputs {
  talvex::FileBuffer payload_file;  // all_models.bin or the TXM file
  const uint8_t* payload = nullptr;
  size_t payload_size = 0;
  uint32_t payload_crc = 0;
  TalvexBNX::NPUTarget target = TalvexBNX::NPUTarget::TZ100;
  int major = 0;
  talvex::FileBuffer fw_info_file;  // legacy only, when a fw_info.bin was given
  std::vector<BNX_FW_INFO_MODEL> fw_records;
  bool fw_has_crc_section = false;
  std::vector<int32_t> txm_model_ids;  // major 2
};

// Builds and writes GetOutputFilePath(args.target, output_name). The status is ok (it may
// note "BNX included crc information" at debug level): every failure throws TalvexException
// (a missing payload file, an unknown target, unreadable or inconsistent inputs, or a failed
// write; no file is left then). Inputs whose container --verify would reject are refused with
// InvalidProgramInput: a legacy payload without fw_info.bin, a fw_info.bin CRC section that does
// not match all_models.bin or itself, a setup.bin of another form than the schema major gives
// (TZ200: the first model's), a TXM that fails the alignment check.
talvex::Status GenBNXFile(BNX_Args& args, std::string output_name);

// Two of the three parts of the container, created in this order from the same in-memory
// inputs; the model bin leaves the all_models content unwritten (CreateAllModelsSpace) and
// GenBNXFile has GenBNXBinary write it from in.payload.
flatbuffers::Offset<TalvexBNX::BNXHeader> GenBNXHeader(BNX_Args& args, const GenInputs& in,
                                                       flatbuffers::FlatBufferBuilder& fbb);
flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<TalvexBNX::ModelInfo>>> GenModelInfo(
    BNX_Args& args, const GenInputs& in, flatbuffers::FlatBufferBuilder& fbb);

// Initial capacity of a builder that is to take payload_bytes of vectors. FlatBufferBuilder
// grows by half its capacity when it runs out: right after a large payload went in, that would
// copy the whole buffer once more, so a container builder starts with room for the payload and
// the tables around it.
size_t BNXBuilderSize(size_t payload_bytes);

// The all_models vector, its first data byte 32-aligned in the finished buffer (empty or not),
// with the content left unwritten: GenBNXBinary takes it from a PayloadFill, so a large payload
// is never copied into the builder.
flatbuffers::Offset<flatbuffers::Vector<uint8_t>> CreateAllModelsSpace(flatbuffers::FlatBufferBuilder& fbb,
                                                                       size_t size);

// Content of an all_models vector created with CreateAllModelsSpace, and its CRC-32.
// A read-only mapping of an open file: bytes at base + k are those at offset k of fd.
struct MappedFile {
  const uint8_t* base = nullptr;
  size_t size = 0;
  int fd = -1;
};
// The one of files that holds [p, p + n) whole, with the offset there; null when none does.
const MappedFile* FileHolding(const std::vector<MappedFile>& files, const uint8_t* p, size_t n, uint64_t* offset);
// Continues crc over [p, p + n): read from the file holding it when one of files does (faulting
// in a mapping costs more than reading the file), else from memory.
uint32_t Crc32Piece(const std::vector<MappedFile>& files, uint32_t crc, const uint8_t* p, size_t n);
// Appends [p, p + n) to out: copied from the file holding it when one of files does, else
// written from memory.
bool WritePiece(talvex::AtomicFileWriter& out, const std::vector<MappedFile>& files, const uint8_t* p, size_t n);

struct PayloadFill {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint32_t crc = 0;
  // When not empty, the content is these ranges one after another (data is not used), so a
  // payload assembled from several inputs is never copied into one buffer.
  std::vector<std::pair<const uint8_t*, size_t>> pieces;
  // Without pieces: the same bytes in an open file at file_offset, when they come from one;
  // then they are copied file to file and never pass through memory.
  int file_fd = -1;
  uint64_t file_offset = 0;
  // Mapped files that pieces may lie in: those pieces are copied file to file.
  std::vector<MappedFile> piece_files;
  // When set, writes the size bytes itself (neither data nor pieces are used): content made
  // as it is written, never held whole.
  std::function<bool(talvex::AtomicFileWriter&)> write;
};
// Object-API packing of a container, except that all_models is always written and aligned
// (the generated Pack drops an empty vector and cannot align it), as all_models_size bytes of
// space (CreateAllModelsSpace) that GenBNXBinary fills: obj's all_models bytes are not used.
flatbuffers::Offset<TalvexBNX::BNXContent> PackBNX(flatbuffers::FlatBufferBuilder& fbb,
                                                   const TalvexBNX::BNXContentT& obj, size_t all_models_size);

// One model-table entry as stored: the version is text, kept as the source container wrote it.
struct ModelInfoText {
  std::string name;
  int32_t id = 0;
  std::string version;
};

// The one way a container is assembled around a payload it does not copy: header, model table
// (models when given, GenModelInfo(args, in) otherwise), fw_info, then payload_size bytes of
// all_models space, finished in fbb.
void BuildBNXAround(flatbuffers::FlatBufferBuilder& fbb, BNX_Args& args, const GenInputs& in,
                    const std::vector<uint8_t>& fw_info, size_t payload_size,
                    const std::vector<ModelInfoText>* models = nullptr);
// BuildBNXAround in a builder with room for the payload, written with the payload from fill by
// GenBNXBinary. Throws as GenBNXBinary does; returns the path written.
std::string WriteBNXAround(BNX_Args& args, const GenInputs& in, const std::vector<uint8_t>& fw_info,
                           const PayloadFill& fill, const std::string& output_name,
                           const std::vector<ModelInfoText>* models = nullptr);

// Writes a finished builder to GetOutputFilePath(target, output_name) with its CRC trailer,
// after checking the alignment in memory; all through one atomic write. With fill, the
// all_models bytes are written from fill instead of the builder. Throws TalvexException on a
// misaligned payload or a failed write; no file then. Returns the path.
std::string GenBNXBinary(const std::string& target, flatbuffers::FlatBufferBuilder& fbb,
                         const std::string& output_name, const PayloadFill* fill = nullptr);

}  // namespace BNXUtils
