#include "bnx/generate.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "common/bytes.h"
#include "common/format_ids.h"
#include "common/exceptions.h"
#include "common/logger.h"
#include "setup/setup_recognise.h"
#include "txm/txm_func.h"
#include "txm/txm_verify.h"
#include "txm_generated.h"

namespace BNXUtils {
namespace {

// Room for everything the builder places after the payload (its length word, alignment
// padding, the ModelBin and root tables and their vtables).
constexpr size_t kTailRoom = 4096;


flatbuffers::Offset<flatbuffers::Vector<uint8_t>> CreateBytes(flatbuffers::FlatBufferBuilder& fbb,
                                                              const uint8_t* data, size_t size) {
  return fbb.CreateVector(size == 0 ? nullptr : data, size);
}

// Inputs that would give a container --verify rejects are refused with the status saying why.
[[noreturn]] void Refuse(const std::string& what, talvex::Status st) {
  throw TalvexException(ErrorCode::InvalidProgramInput, what, std::move(st));
}

}  // namespace

const MappedFile* FileHolding(const std::vector<MappedFile>& files, const uint8_t* p, size_t n, uint64_t* offset) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  for (const MappedFile& f : files) {
    const auto base = reinterpret_cast<uintptr_t>(f.base);
    if (f.fd >= 0 && f.base != nullptr && at >= base && at - base <= f.size && n <= f.size - (at - base)) {
      *offset = at - base;
      return &f;
    }
  }
  return nullptr;
}

bool WritePiece(talvex::AtomicFileWriter& out, const std::vector<MappedFile>& files, const uint8_t* p, size_t n) {
  uint64_t at = 0;
  const MappedFile* file = FileHolding(files, p, n, &at);
  return file != nullptr ? out.CopyFrom(file->fd, at, n) : out.Write(p, n);
}

uint32_t Crc32Piece(const std::vector<MappedFile>& files, uint32_t crc, const uint8_t* p, size_t n) {
  uint64_t at = 0;
  const MappedFile* file = FileHolding(files, p, n, &at);
  return Crc32Mirrored(crc, p, n, file != nullptr ? file->fd : -1, at);
}

namespace {
// fw_info.bin checked against all_models.bin, and TZ200's major from its first setup.
void LoadLegacyInputs(const BNX_Args& args, GenInputs& in) {
  if (args.fw_info_path.empty()) {
    // Readers find the models through fw_info.bin: a container without one is no container.
    Refuse("no fw_info.bin", TALVEX_STATUS_ERROR(LogCateg::Common,
                                                 "a TZ{} container needs the fw_info.bin of its all_models.bin {}",
                                                 args.target, args.all_models_path));
  }
  in.fw_info_file = talvex::FileBuffer::Load(args.fw_info_path);
  if (!in.fw_info_file.ok() && in.fw_info_file.status() != talvex::ReadStatus::kEmpty) {
    throw TalvexException(ErrorCode::Common, fmt::format("Failed to read the file: {} ({})", args.fw_info_path,
                                                         talvex::ReadStatusText(in.fw_info_file.status())));
  }
  const FWInfoTable table = DecodeFWInfoExact(in.fw_info_file.data(), in.fw_info_file.size());
  CheckBlocksFit(table.records, in.payload_size);
  in.fw_records = table.records;
  in.fw_has_crc_section = table.has_crc_section;
  // Junk appended to a fw_info.bin is refused here, before all_models.bin is read; the section
  // itself is compared with all_models.bin as the payload passes.
  if (in.fw_has_crc_section) {
    talvex::Status own = CheckFWInfoOwnCRC(in.fw_info_file.data(), in.fw_info_file.size(), args.fw_info_path,
                                           args.all_models_path);
    if (!own.ok()) Refuse("fw_info.bin CRC section is damaged", std::move(own));
  }
  if (in.target == TalvexBNX::NPUTarget::TZ200) {
    const std::vector<uint8_t> setup = FirstSetupBin(in.fw_records, in.payload, in.payload_size);
    in.major = SchemaMajorFor(in.target, setup.data(), setup.size());
  }
  // Readers take every setup's form from the major, so all must have it (TZ200: the first's).
  talvex::Status forms = CheckSetupForms(in.fw_records, in.payload, in.payload_size, in.major,
                                         in.target == TalvexBNX::NPUTarget::TZ200, args.fw_info_path,
                                         args.all_models_path);
  if (!forms.ok()) Refuse("setup.bin of the wrong form", std::move(forms));
}
}  // namespace

namespace {
// Reads and checks everything generation needs, before anything is written; the payload's CRC
// is left to the write, which reads the payload once.
void LoadGenInputsChecked(const BNX_Args& args, GenInputs& in) {
  in.target = GetTargetEnum(args.target);
  in.payload_file = talvex::FileBuffer::Load(args.all_models_path);
  if (!in.payload_file.ok() && in.payload_file.status() != talvex::ReadStatus::kEmpty) {
    throw TalvexException(ErrorCode::Common, fmt::format("Failed to read the file: {} ({})", args.all_models_path,
                                                         talvex::ReadStatusText(in.payload_file.status())));
  }
  in.payload = in.payload_file.data();
  in.payload_size = in.payload_file.size();
  in.major = SchemaMajorFor(in.target, nullptr, 0);  // TZ200's: from its first setup, below

  if (in.major == 2) {
    if (!TXM::VerifyTXMBuffer(in.payload, in.payload_size)) {
      throw InvalidProgramInput(fmt::format("Not a valid TXM file: {}", args.all_models_path));
    }
    const auto* models = flatbuffers::GetRoot<TalvexTXM::TXMContent>(in.payload)->models();
    if (models != nullptr) {
      for (flatbuffers::uoffset_t i = 0; i < models->size(); ++i) {
        const auto* header = models->Get(i)->header();
        if (header == nullptr) {
          throw InvalidProgramInput(fmt::format("TXM model #{} has no header: {}", i, args.all_models_path));
        }
        in.txm_model_ids.push_back(header->id());
      }
    }
    // The same check as -A: a misaligned TXM fails on the device and in --verify.
    talvex::Status aligned = TXM::CheckAlignment(in.payload, in.payload_size);
    if (!aligned.ok()) {
      aligned.Err("The alignment check of " + args.all_models_path + " failed");
      Refuse("TXM alignment", std::move(aligned));
    }
  } else {
    LoadLegacyInputs(args, in);
  }
}

// The one full pass over the payload, once everything else checked out.
void ComputePayloadCrc(GenInputs& in) {
  // Last: the one full pass over the payload, once everything else checked out. The payload is
  // later copied file to file, so it is read from the file rather than faulted in through the
  // mapping (which would cost more than the CRC itself).
  uint32_t crc = 0;
  if (!Crc32FileRange(in.payload_file.fd(), 0, in.payload_size, &crc)) {
    crc = 0;
    constexpr size_t kCrcStep = size_t{8} << 20;
    for (size_t at = 0; at < in.payload_size; at += kCrcStep) {
      const size_t n = std::min(kCrcStep, in.payload_size - at);
      crc = Crc32Update(crc, in.payload + at, n);
      in.payload_file.ReleasePages(at, n);
    }
  }
  in.payload_crc = crc;
}
}  // namespace

flatbuffers::Offset<TalvexBNX::BNXHeader> GenBNXHeader(BNX_Args& args, const GenInputs& in,
                                                       flatbuffers::FlatBufferBuilder& fbb) {
  auto platform = fbb.CreateString(args.platform);
  auto toolchain_version = fbb.CreateString(args.toolchain_version);
  auto compiler_version = fbb.CreateString(args.compiler_version);
  auto schema_version = TalvexBNX::CreateSchemaVersion(fbb, static_cast<uint32_t>(in.major), 0, 1);
  auto solution_id = fbb.CreateString(args.solution_id);
  auto solution_tag = fbb.CreateString(args.solution_tag);
  return TalvexBNX::CreateBNXHeader(fbb, platform, in.target, in.payload_crc, args.tv_number,
                                    static_cast<TalvexBNX::ENCMode>(args.encryption_mode), compiler_version,
                                    toolchain_version, schema_version, args.uuid, solution_id, solution_tag);
}

flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<TalvexBNX::ModelInfo>>> GenModelInfo(
    BNX_Args& args, const GenInputs& in, flatbuffers::FlatBufferBuilder& fbb) {
  std::vector<flatbuffers::Offset<TalvexBNX::ModelInfo>> infos;
  auto add = [&](const std::string& name, int32_t id, const std::string& version) {
    auto n = fbb.CreateString(name);
    auto v = fbb.CreateString(version);
    infos.push_back(TalvexBNX::CreateModelInfo(fbb, n, id, v));
  };
  if (!args.models.empty()) {
    for (const auto& m : args.models) add(m.name, static_cast<int32_t>(m.id), fmt::format("{}", m.version));
  } else if (in.major == 2) {
    for (int32_t id : in.txm_model_ids) add("", id, "");
  } else {
    for (const auto& r : in.fw_records) add("", static_cast<int32_t>(r.model_id), fmt::format("{}", r.model_ver));
  }
  return fbb.CreateVector(infos);
}

namespace {
// fw_info.bin as the container stores it: only a legacy payload given with its fw_info.bin has one.
std::vector<uint8_t> StoredFWInfo(const BNX_Args& args, const GenInputs& in, talvex::Status* notes,
                                  std::optional<uint32_t>* all_models_crc = nullptr) {
  std::vector<uint8_t> fw;
  if (!args.fw_info_path.empty() && in.major != 2) {
    talvex::Status st = GenFWBinData(args.fw_info_path, args.all_models_path, in.fw_info_file.data(),
                                     in.fw_info_file.size(), in.payload, in.payload_size, fw, in.payload_file.fd(),
                                     all_models_crc);
    if (notes != nullptr) notes->Note(std::move(st));
  }
  return fw;
}

flatbuffers::Offset<TalvexBNX::ModelBin> ModelBinAround(flatbuffers::FlatBufferBuilder& fbb,
                                                        const std::vector<uint8_t>& fw, size_t payload_size) {
  auto fw_info = CreateBytes(fbb, fw.data(), fw.size());
  // The payload itself is written by GenBNXBinary.
  auto all_models = CreateAllModelsSpace(fbb, payload_size);
  return TalvexBNX::CreateModelBin(fbb, fw_info, all_models);
}
}  // namespace

void BuildBNXAround(flatbuffers::FlatBufferBuilder& fbb, BNX_Args& args, const GenInputs& in,
                    const std::vector<uint8_t>& fw_info, size_t payload_size,
                    const std::vector<ModelInfoText>* models) {
  fbb.ForceDefaults(true);
  auto header = GenBNXHeader(args, in, fbb);
  flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<TalvexBNX::ModelInfo>>> model_info;
  if (models != nullptr) {
    std::vector<flatbuffers::Offset<TalvexBNX::ModelInfo>> entries;
    for (const auto& m : *models) {
      auto n = fbb.CreateString(m.name);
      auto v = fbb.CreateString(m.version);
      entries.push_back(TalvexBNX::CreateModelInfo(fbb, n, m.id, v));
    }
    model_info = fbb.CreateVector(entries);
  } else {
    model_info = GenModelInfo(args, in, fbb);
  }
  auto model_bin = ModelBinAround(fbb, fw_info, payload_size);
  fbb.Finish(TalvexBNX::CreateBNXContent(fbb, talvex::kContainerMagic, header, model_info, model_bin));
}

std::string WriteBNXAround(BNX_Args& args, const GenInputs& in, const std::vector<uint8_t>& fw_info,
                           const PayloadFill& fill, const std::string& output_name,
                           const std::vector<ModelInfoText>* models) {
  // Room for the payload space from the start: growing would copy (and fault in) all of it.
  flatbuffers::FlatBufferBuilder fbb(BNXBuilderSize(fill.size + fw_info.size()), nullptr, false, 8);
  BuildBNXAround(fbb, args, in, fw_info, fill.size, models);
  return GenBNXBinary(args.target, fbb, output_name, &fill);
}

namespace {
void PrepareAllModels(flatbuffers::FlatBufferBuilder& fbb, size_t size) {
  if (size > FLATBUFFERS_MAX_BUFFER_SIZE - kTailRoom - fbb.GetSize()) {
    throw TalvexException(ErrorCode::InvalidProgramInput,
                          fmt::format("payload of {} bytes does not fit in a BNX file (limit 2 GiB)", size));
  }
  if (size == 0) {
    // ForceVectorAlignment does nothing for an empty vector; pad by hand so that the
    // (empty) data still starts on the boundary.
    fbb.PreAlign(ALL_MODELS_ALIGN, ALL_MODELS_ALIGN);
  } else {
    fbb.ForceVectorAlignment(size, sizeof(uint8_t), ALL_MODELS_ALIGN);
  }
}
}  // namespace

size_t BNXBuilderSize(size_t payload_bytes) {
  return std::min<size_t>(payload_bytes + kTailRoom + 1024, FLATBUFFERS_MAX_BUFFER_SIZE);
}

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> CreateAllModelsSpace(flatbuffers::FlatBufferBuilder& fbb,
                                                                       size_t size) {
  PrepareAllModels(fbb, size);
  uint8_t* unused = nullptr;
  return flatbuffers::Offset<flatbuffers::Vector<uint8_t>>(fbb.CreateUninitializedVector(size, 1, &unused));
}

flatbuffers::Offset<TalvexBNX::BNXContent> PackBNX(flatbuffers::FlatBufferBuilder& fbb,
                                                   const TalvexBNX::BNXContentT& obj, size_t all_models_size) {
  auto header = obj.header ? TalvexBNX::CreateBNXHeader(fbb, obj.header.get()) : 0;
  flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<TalvexBNX::ModelInfo>>> model_info = 0;
  if (!obj.model_info.empty()) {
    const TalvexBNX::ModelInfoT blank;
    std::vector<flatbuffers::Offset<TalvexBNX::ModelInfo>> infos;
    infos.reserve(obj.model_info.size());
    for (const auto& m : obj.model_info) infos.push_back(TalvexBNX::CreateModelInfo(fbb, m ? m.get() : &blank));
    model_info = fbb.CreateVector(infos);
  }
  const TalvexBNX::ModelBinT* bin = obj.model_bin.get();
  flatbuffers::Offset<flatbuffers::Vector<uint8_t>> fw_info = 0;
  if (bin != nullptr && !bin->fw_info.empty()) fw_info = CreateBytes(fbb, bin->fw_info.data(), bin->fw_info.size());
  auto all_models = CreateAllModelsSpace(fbb, all_models_size);
  auto model_bin = TalvexBNX::CreateModelBin(fbb, fw_info, all_models);
  return TalvexBNX::CreateBNXContent(fbb, obj.magic, header, model_info, model_bin);
}

std::string GenBNXBinary(const std::string& target, flatbuffers::FlatBufferBuilder& fbb,
                         const std::string& output_name, const PayloadFill* fill) {
  const std::string path = GetOutputFilePath(target, output_name);
  const uint8_t* buf = fbb.GetBufferPointer();
  const size_t size = fbb.GetSize();
  // The verifier does not read vector contents, so an unfilled all_models is fine here.
  talvex::Status aligned = CheckBNXAlignment(buf, size);
  if (!aligned.ok()) {
    static const char* const kMisaligned = "Detect alignment issue in bnx";
    throw TalvexException(ErrorCode::Common, kMisaligned,
                          std::move(aligned.Merge(TalvexException(ErrorCode::Common, kMisaligned).status())));
  }
  // The file is head + all_models data + tail; without a fill all three come from the builder.
  size_t head = size;
  size_t mid = 0;
  const uint8_t* mid_data = nullptr;
  uint32_t mid_crc = 0;
  int mid_fd = -1;
  uint64_t mid_offset = 0;
  if (fill != nullptr) {
    const auto* all = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf)->model_bin()->all_models();
    if (all->size() != fill->size) {
      throw TalvexException(ErrorCode::Common,
                            fmt::format("all_models holds {} bytes, its content {}", all->size(), fill->size));
    }
    head = static_cast<size_t>(all->data() - buf);
    mid = fill->size;
    mid_data = fill->data;
    mid_crc = fill->crc;
    mid_fd = fill->file_fd;
    mid_offset = fill->file_offset;
  }
  const uint8_t* tail = buf + head + mid;
  const size_t tail_size = size - head - mid;
  uint8_t trailer[CRC_TRAILER_BYTES];
  talvex::StoreLE32(trailer, Crc32Around(buf, head, mid_crc, mid, tail, tail_size));
  talvex::AtomicFileWriter out(path);
  bool ok = out.Write(buf, head);
  if (fill != nullptr && fill->write) {
    ok = ok && fill->write(out);
  } else if (fill != nullptr && !fill->pieces.empty()) {
    size_t total = 0;
    for (const auto& piece : fill->pieces) total += piece.second;
    if (total != mid) {
      throw TalvexException(ErrorCode::Common, fmt::format("all_models holds {} bytes, its pieces {}", mid, total));
    }
    for (const auto& piece : fill->pieces) {
      ok = ok && (piece.second == 0 || WritePiece(out, fill->piece_files, piece.first, piece.second));
    }
  } else {
    ok = ok && (mid == 0 || (mid_fd >= 0 ? out.CopyFrom(mid_fd, mid_offset, mid) : out.Write(mid_data, mid)));
  }
  ok = ok && out.Write(tail, tail_size) && out.Write(trailer, sizeof(trailer)) && out.Commit();
  if (!ok) throw TalvexException(ErrorCode::Common, fmt::format("Failed to write {}: {}", path, out.error()));
  return path;
}

namespace {
// Address of a scalar field of a table in a finished buffer; nullptr when it is not stored.
uint8_t* FieldAddress(uint8_t* table, flatbuffers::voffset_t field) {
  const uint8_t* vtable = table - flatbuffers::ReadScalar<flatbuffers::soffset_t>(table);
  if (field >= flatbuffers::ReadScalar<flatbuffers::voffset_t>(vtable)) return nullptr;
  const flatbuffers::voffset_t at = flatbuffers::ReadScalar<flatbuffers::voffset_t>(vtable + field);
  return at == 0 ? nullptr : table + at;
}

// CRCs of the model blocks of a legacy payload (and of the bytes after the last), taken from
// its pieces as they pass, and combined into the CRC of it all.
class BlockCrcs {
 public:
  explicit BlockCrcs(const std::vector<BNX_FW_INFO_MODEL>& records) {
    for (const ModelPieces& p : PieceLayout(records)) sizes_.push_back(p.size());
    left_ = sizes_.empty() ? 0 : sizes_[0];
  }
  void Add(const uint8_t* d, size_t n) {
    while (n > 0) {
      if (crcs_.size() == sizes_.size()) {  // past the last block
        rest_ = Crc32Update(rest_, d, n);
        rest_size_ += n;
        return;
      }
      const size_t m = static_cast<size_t>(std::min<uint64_t>(n, left_));
      crc_ = Crc32Update(crc_, d, m);
      d += m;
      n -= m;
      left_ -= m;
      if (left_ == 0) {
        crcs_.push_back(crc_);
        crc_ = 0;
        if (crcs_.size() < sizes_.size()) left_ = sizes_[crcs_.size()];
      }
    }
  }
  // The CRC section: all of it, then each block. Empty unless every block was seen whole.
  std::vector<uint32_t> Section() const {
    if (crcs_.size() != sizes_.size()) return {};
    uint32_t whole = 0;
    for (size_t i = 0; i < crcs_.size(); ++i) {
      whole = static_cast<uint32_t>(::crc32_combine(whole, crcs_[i], static_cast<z_off_t>(sizes_[i])));
    }
    whole = static_cast<uint32_t>(::crc32_combine(whole, rest_, static_cast<z_off_t>(rest_size_)));
    std::vector<uint32_t> section{whole};
    section.insert(section.end(), crcs_.begin(), crcs_.end());
    return section;
  }

 private:
  std::vector<uint64_t> sizes_;
  std::vector<uint32_t> crcs_;
  uint64_t left_ = 0;
  uint32_t crc_ = 0, rest_ = 0;
  uint64_t rest_size_ = 0;
};

// Bytes of the CRC section, and fw_info.bin's own CRC after it, for records.
size_t CrcSectionSize(size_t records) { return 4 * (records + 1) + 4; }

// What the one pass over a legacy payload does with fw_info.bin's CRC section: fill it in
// (the file came without one) or compare it with the blocks (the file came with one).
enum class Section { kNone, kAdd, kCheck };

// Where the fields that wait for the payload's CRC lie in a finished buffer: all of them after
// the payload, in the part still to be written once the CRC is known.
struct PatchPoints {
  size_t head = 0;     // bytes before the payload
  size_t tail_at = 0;  // where the bytes after it start
  uint8_t* crc_at = nullptr;
  uint8_t* uuid_at = nullptr;  // only when the uuid is the payload's CRC
  uint8_t* fw_at = nullptr;    // fw_info.bin, with room for its CRC section (Section::kAdd)
};

bool FindPatchPoints(const BNX_Args& args, flatbuffers::FlatBufferBuilder& fbb, const GenInputs& in, Section section,
                     PatchPoints& at) {
  uint8_t* buf = fbb.GetBufferPointer();
  const size_t size = fbb.GetSize();
  if (!CheckBNXAlignment(buf, size).ok()) return false;
  const auto* root = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf);
  const auto* all = root->model_bin()->all_models();
  if (all->size() != in.payload_size || root->header() == nullptr) return false;
  at.head = static_cast<size_t>(all->data() - buf);
  at.tail_at = at.head + in.payload_size;
  auto* header = reinterpret_cast<uint8_t*>(const_cast<TalvexBNX::BNXHeader*>(root->header()));
  at.crc_at = FieldAddress(header, TalvexBNX::BNXHeader::VT_CRC);
  if (args.uuid_from_payload) at.uuid_at = FieldAddress(header, TalvexBNX::BNXHeader::VT_UUID);
  const auto in_tail = [&](const uint8_t* p, size_t n) {
    return p != nullptr && p >= buf + at.tail_at && n <= size && p <= buf + size - n;
  };
  if (!in_tail(at.crc_at, 4) || (args.uuid_from_payload && !in_tail(at.uuid_at, 4))) return false;
  if (section != Section::kAdd) return true;
  const auto* fw = root->model_bin()->fw_info();
  if (fw == nullptr || fw->size() != in.fw_info_file.size() + CrcSectionSize(in.fw_records.size())) return false;
  at.fw_at = const_cast<uint8_t*>(fw->data());
  return in_tail(at.fw_at, fw->size());
}

// The CRC section the payload pass gave: checked against the one fw_info.bin brought
// (Section::kCheck), or written into the room left for it (Section::kAdd). Returns the CRC of
// the whole payload.
uint32_t SealSection(const BNX_Args& args, const GenInputs& in, Section section, const BlockCrcs& blocks,
                     uint8_t* fw_at, talvex::Status& notes) {
  const std::vector<uint32_t> crcs = blocks.Section();
  if (crcs.empty()) throw TalvexException(ErrorCode::Common, "all_models.bin ended inside a model block");
  const size_t fw_size = in.fw_info_file.size();
  if (section == Section::kCheck) {
    // Until Commit the output is an unnamed temporary: a refusal here leaves no file.
    talvex::Status st = CheckCRCSection(in.fw_info_file.data(), fw_size, in.fw_records, crcs, args.fw_info_path,
                                        args.all_models_path);
    if (!st.ok()) Refuse("fw_info.bin CRC section does not match all_models.bin", std::move(st));
    notes.Note(std::move(st));
    return crcs[0];
  }
  uint8_t* at = fw_at + fw_size;
  for (uint32_t crc : crcs) {
    talvex::StoreLE32(at, crc);
    at += 4;
  }
  talvex::StoreLE32(at, crc32(fw_at, static_cast<size_t>(at - fw_at)));
  return crcs[0];
}

// Writes a generated container whose header crc (and, with args.uuid_from_payload, uuid) still
// holds 0, reading the payload only once: each piece is added to the CRC and copied from the
// cache. The builder places the header after the payload, so the two fields are set in the
// bytes still to be written once the CRC is known. With Section::kAdd, fw_info.bin (also after
// the payload) ends in room for its CRC section and own CRC, filled the same way from the pass;
// with Section::kCheck, the section fw_info.bin brought must match the pass, or nothing is
// committed and the mismatch is thrown (InvalidProgramInput). False, with nothing written, when
// the buffer is not laid out that way (the caller then goes the ordinary way); a failed write
// throws as GenBNXBinary does. notes receives what the check noted.
bool WriteWithPayloadCrc(const BNX_Args& args, flatbuffers::FlatBufferBuilder& fbb, const std::string& output_name,
                         GenInputs& in, Section section, talvex::Status& notes) {
  PatchPoints at;
  if (!FindPatchPoints(args, fbb, in, section, at)) return false;
  const uint8_t* buf = fbb.GetBufferPointer();
  const size_t size = fbb.GetSize();
  const std::string path = GetOutputFilePath(args.target, output_name);
  talvex::AtomicFileWriter out(path);
  uint32_t payload_crc = 0;
  BlockCrcs blocks(in.fw_records);
  const auto observe = [&](const uint8_t* d, size_t n) {
    if (section != Section::kNone) {
      blocks.Add(d, n);
    } else {
      payload_crc = Crc32Update(payload_crc, d, n);
    }
  };
  bool ok = out.Write(buf, at.head) && out.CopyFrom(in.payload_file.fd(), 0, in.payload_size, observe);
  if (ok && section != Section::kNone) payload_crc = SealSection(args, in, section, blocks, at.fw_at, notes);
  if (ok) {
    in.payload_crc = payload_crc;
    talvex::StoreLE32(at.crc_at, payload_crc);
    if (at.uuid_at != nullptr) talvex::StoreLE32(at.uuid_at, payload_crc);
    const uint8_t* tail = buf + at.tail_at;
    const size_t tail_size = size - at.tail_at;
    uint8_t trailer[CRC_TRAILER_BYTES];
    talvex::StoreLE32(trailer, Crc32Around(buf, at.head, payload_crc, in.payload_size, tail, tail_size));
    ok = out.Write(tail, tail_size) && out.Write(trailer, sizeof(trailer)) && out.Commit();
  }
  if (!ok) throw TalvexException(ErrorCode::Common, fmt::format("Failed to write {}: {}", path, out.error()));
  return true;
}
}  // namespace

talvex::Status GenBNXFile(BNX_Args& args, std::string output_name) {
  if (!CheckFileExist(args.all_models_path)) {
    static const char* const kMissing = "all_models_path doesn't exist";
    talvex::Status st =
        TALVEX_STATUS_ERROR(LogCateg::Common, "all_models_path[{}] doesn't exist\n", args.all_models_path);
    // Reported as the program reports any failure it did not expect.
    throw TalvexException(ErrorCode::Common, kMissing, std::move(st.Err(std::string("error: ") + kMissing)));
  }
  try {
    GenInputs in;
    LoadGenInputsChecked(args, in);
    // A payload in a file is read once, for its CRC and its copy together; the header's crc
    // (and uuid) are filled in once it has been read, and fw_info.bin's CRC section is filled
    // in, or compared with all_models.bin, from the same pass.
    const Section section = in.major == 2 ? Section::kNone : in.fw_has_crc_section ? Section::kCheck : Section::kAdd;
    const bool one_pass = in.payload_file.fd() >= 0 && in.payload_size != 0;
    const size_t room = BNXBuilderSize(in.payload_size + in.fw_info_file.size());
    if (one_pass) {
      std::vector<uint8_t> fw;
      if (section != Section::kNone) fw.assign(in.fw_info_file.data(), in.fw_info_file.data() + in.fw_info_file.size());
      if (section == Section::kAdd) fw.resize(fw.size() + CrcSectionSize(in.fw_records.size()), 0);
      flatbuffers::FlatBufferBuilder fbb(room, nullptr, false, 8);
      if (args.uuid_from_payload) args.uuid = in.payload_crc;
      BuildBNXAround(fbb, args, in, fw, in.payload_size);
      talvex::Status notes;
      if (WriteWithPayloadCrc(args, fbb, output_name, in, section, notes)) {
        if (args.uuid_from_payload) args.uuid = in.payload_crc;
        return notes;
      }
    }
    // Otherwise: fw_info.bin's CRC section, made or checked, holds the CRC of all of
    // all_models.bin, the payload, which is then not computed twice.
    talvex::Status fw_notes;
    std::optional<uint32_t> section_crc;
    const std::vector<uint8_t> fw = StoredFWInfo(args, in, &fw_notes, &section_crc);
    if (section_crc) in.payload_crc = *section_crc;
    if (!section_crc) ComputePayloadCrc(in);
    const auto build = [&](flatbuffers::FlatBufferBuilder& fbb, talvex::Status& notes) {
      if (args.uuid_from_payload) args.uuid = in.payload_crc;
      notes.Note(fw_notes);
      BuildBNXAround(fbb, args, in, fw, in.payload_size);
    };
    flatbuffers::FlatBufferBuilder fbb(room, nullptr, false, 8);
    talvex::Status notes;
    build(fbb, notes);
    const PayloadFill fill{in.payload, in.payload_size, in.payload_crc, {}, in.payload_file.fd(), 0, {}, {}};
    GenBNXBinary(args.target, fbb, output_name, &fill);
    return notes;
  } catch (const TalvexException& e) {
    // The input checks speak of "fw_info.bin" and "all_models.bin"; name the files meant.
    talvex::Status st = e.status();
    const std::string inputs =
        args.fw_info_path.empty() ? args.all_models_path : args.fw_info_path + " and " + args.all_models_path;
    st.Err("Cannot generate a container from " + inputs);
    throw TalvexException(e.code(), e.message(), std::move(st));
  }
}

}  // namespace BNXUtils
