#include "bnx/post_enc.h"

#include "common/format_ids.h"

#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "bnx/tz100_utils.h"
#include "bnx/verify.h"
#include "common/bytes.h"
#include "common/fb_unpack.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "encoder/encoder.h"
#include "setup/setup_fb_reader.h"
#include "setup/setup_func.h"
#include "common/payload_memory.h"
#include "txm/txm_object.h"
#include "txm/txm_payloads.h"
#include "txm/txm_reader.h"
#include "txm/txm_transform.h"
#include "txm/txm_verify.h"
#include "txm/txm_writer.h"

namespace BNXUtils {
namespace {

constexpr uint32_t kRawKeyOffsetWord = 8;  // byte offset of enc_key_data_offset in a raw setup
// Scrambling and CRC run chunk by chunk while the chunk is still in cache.
constexpr size_t kChunk = 256 * 1024;
static_assert(kChunk % 16 == 0, "chunks keep the garble blocks whole");

[[noreturn]] void Refuse(const std::string& msg) { throw InvalidProgramInput(msg); }
// Refusal that also reports what the step below said.
[[noreturn]] void Refuse(talvex::Status said, const std::string& msg) {
  const std::string code = EnumStrMap<ErrorCode>().at(ErrorCode::InvalidProgramInput);
  said.Merge(TALVEX_STATUS_ERROR(LogCateg::Common, "{}: {}", code, msg));
  throw TalvexException(ErrorCode::InvalidProgramInput, msg, std::move(said));
}

std::string Str(const flatbuffers::String* s) { return s == nullptr ? std::string() : s->str(); }

// A container opened and checked once; header texts are copied out so the mapping can go early.
struct SourceBNX {
  BnxFile file;
  const TalvexBNX::BNXContent* root = nullptr;
  const flatbuffers::Vector<uint8_t>* fw_info = nullptr;
  const flatbuffers::Vector<uint8_t>* all_models = nullptr;
  TalvexBNX::NPUTarget target = TalvexBNX::NPUTarget::TZ100;
  std::string target_str;
  uint32_t major = 0;
  uint32_t uuid = 0;
  std::string crc_text;
  std::string platform, compiler_version, toolchain_version, solution_id, solution_tag;
};

SourceBNX OpenSource(const std::string& path) {
  SourceBNX s;
  // Encryption recomputes every CRC: a damaged payload would come out sealed as sound.
  talvex::Status opened = OpenForUse(path, s.file);
  if (!opened.ok()) Refuse(std::move(opened), fmt::format("Cannot post-encrypt {}", path));
  s.root = s.file.root();
  const TalvexBNX::BNXHeader* h = s.root->header();
  if (h == nullptr) Refuse(fmt::format("The container has no header: {}", path));
  if (h->schema_version() == nullptr) Refuse(fmt::format("The container has no schema version: {}", path));
  if (s.root->model_bin() == nullptr || s.root->model_bin()->all_models() == nullptr) {
    Refuse(fmt::format("The container carries no payload: {}", path));
  }
  const int32_t target = static_cast<int32_t>(h->target());
  if (target < 0 || target > static_cast<int32_t>(TalvexBNX::NPUTarget::MAX)) {
    Refuse(fmt::format("Undefine target {} in {}", target, path));
  }
  // Scrambling is its own inverse: a second pass would hand out plain payloads marked encrypted.
  if (h->encryption_mode() != TalvexBNX::ENCMode::EM_None || h->tv_number() != 0) {
    Refuse(fmt::format("The container is already encrypted (encryption_mode {}, tv_number {}): {}",
                       GetEncModeStr(h->encryption_mode()), GetHexFromUInt(h->tv_number()), path));
  }
  s.target = h->target();
  s.target_str = GetTargetStr(s.target);
  s.major = h->schema_version()->major_num();
  if ((s.major == 2) != IsTxmTarget(s.target)) {
    Refuse(fmt::format("Schema major {} does not fit target {}: {}", s.major, s.target_str, path));
  }
  s.fw_info = s.root->model_bin()->fw_info();
  s.all_models = s.root->model_bin()->all_models();
  s.uuid = h->uuid();
  s.crc_text = GetHexFromUInt(h->crc());
  s.platform = Str(h->platform());
  s.compiler_version = Str(h->compiler_version());
  s.toolchain_version = Str(h->toolchain_version());
  s.solution_id = Str(h->solution_id());
  s.solution_tag = Str(h->solution_tag());
  return s;
}

// Refused before any work: the front end's protection of the inputs (all of them unless
// --replace_original names the container) would only stop the write at the end.
void CheckNotInput(const std::string& out) {
  if (!talvex::InputClash(out).empty()) {
    Refuse(fmt::format("The output {} is the input container; use --replace_original to replace it", out));
  }
}

// stoi of the text as the model table is read; a text it cannot read is kept as it is.
std::string VersionText(const std::string& text) {
  try {
    size_t used = 0;
    const int v = std::stoi(text, &used);
    return fmt::format("{}", static_cast<uint32_t>(v));
  } catch (const std::exception&) {
    return text;
  }
}

std::vector<ModelInfoText> SourceModels(const SourceBNX& s, const std::vector<BNX_FW_INFO_MODEL>& records) {
  std::vector<ModelInfoText> out;
  const auto* infos = s.root->model_info();
  if (infos != nullptr && infos->size() != 0) {
    for (flatbuffers::uoffset_t i = 0; i < infos->size(); ++i) {
      const TalvexBNX::ModelInfo* m = infos->Get(i);
      out.push_back({Str(m->name()), m->id(), VersionText(Str(m->version()))});
    }
  } else {
    for (const auto& r : records) out.push_back({"", static_cast<int32_t>(r.model_id), fmt::format("{}", r.model_ver)});
  }
  return out;
}

std::string WriteContainer(BNX_Args& args, const GenInputs& in, const std::vector<ModelInfoText>* models,
                           const std::vector<uint8_t>& fw_info, const std::string& out_name) {
  PayloadFill fill;
  fill.data = in.payload;
  fill.size = in.payload_size;
  fill.crc = in.payload_crc;
  return WriteBNXAround(args, in, fw_info, fill, out_name, models);
}

void SetKeyFields(BNX_Args& args, const PostEncKeys& keys) {
  if (keys.customer_mode()) {
    args.tv_number = 0;
    args.encryption_mode = static_cast<int8_t>(TalvexBNX::ENCMode::EM_CUSTOM);
  } else {
    args.tv_number = keys.efuse_key;
    args.encryption_mode = static_cast<int8_t>(TalvexBNX::ENCMode::EM_TVNum);
  }
}

BNX_Args ArgsFromSource(const SourceBNX& s) {
  BNX_Args args;
  args.target = s.target_str;
  args.platform = s.platform;
  args.compiler_version = s.compiler_version;
  args.toolchain_version = s.toolchain_version;
  args.solution_id = s.solution_id;
  args.solution_tag = s.solution_tag;
  args.uuid = s.uuid;
  return args;
}

std::string ModelName(const BNX_FW_INFO_MODEL& r, size_t i) { return fmt::format("model {} (#{})", r.model_id, i); }

// ---- legacy pieces ----

// The marked setup of one model.
std::vector<uint8_t> MarkSetup(const uint8_t* setup, size_t size, const std::vector<uint8_t>& key_data,
                               const std::string& model, talvex::Status& notes) {
  const bool customer = !key_data.empty();
  if (Setup::IsRawSetup(setup, size)) {
    if (size < kRawKeyOffsetWord + 4) Refuse(fmt::format("Not a valid raw based setup.bin ({})", model));
    std::vector<uint8_t> out(setup, setup + size);
    if (customer) {
      out.insert(out.end(), key_data.begin(), key_data.end());
      // The key data starts where the setup itself ends.
      talvex::Status st = Setup::UpdateEncryptCustomerKeyInRawSetup(out.data(), size);
      if (!st.ok()) Refuse(std::move(st), fmt::format("Not a valid raw based setup.bin ({})", model));
    } else {
      talvex::Status st = Setup::UpdateEncryptEFuse(out.data(), out.size());
      if (!st.ok()) Refuse(std::move(st), fmt::format("Not a valid raw based setup.bin ({})", model));
    }
    return out;
  }
  if (!Setup::IsFBSetup(setup, size)) Refuse(fmt::format("The setup.bin is not legal ({})", model));
  if (!customer) {
    std::vector<uint8_t> out(setup, setup + size);
    talvex::Status st = Setup::UpdateEncryptEFuse(out.data(), out.size());
    if (!st.ok()) Refuse(std::move(st), fmt::format("The setup.bin is not legal ({})", model));
    notes.Note(std::move(st));
    if (out == std::vector<uint8_t>(setup, setup + size)) {
      // Its mode is not stored, so it cannot be set without changing the setup's size.
      TALVEX_STATUS_LOG(notes, LogCateg::Common, kWarn,
                        "setup.bin of {} stores no encryption mode; it is left unmarked", model);
    }
    return out;
  }
  TalvexSetup::INFContentT content;
  talvex::Status parsed = SetupFBReader::Parse(content, setup, size);
  if (!parsed.ok()) Refuse(std::move(parsed), fmt::format("Failed to parse setup.bin ({})", model));
  if (!content.header) content.header = std::make_unique<TalvexSetup::HeaderT>();
  if (!content.header->encrypt_info) content.header->encrypt_info = std::make_unique<TalvexSetup::EncryptInfoT>();
  content.header->encrypt_info->mode = TalvexSetup::EncryptedMode::CustKey;
  content.header->encrypt_info->key = key_data;
  flatbuffers::FlatBufferBuilder fbb(1024);
  fbb.Finish(SetupFBReader::Pack(fbb, content));
  return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

}  // namespace

PostEncKeys ReducePostEncKeys(uint32_t tv_number, uint32_t customer_key, uint32_t efuse_key,
                              const std::string& key_file) {
  PostEncKeys keys;
  if (tv_number != 0) {
    keys.efuse_key = tv_number;
  } else {
    keys.customer_key = customer_key;
    keys.efuse_key = efuse_key;
    keys.key_file = key_file;
    if (!key_file.empty()) {
      keys.key_table = Encoder::LoadKeyFile(key_file);
      // Key 0 scrambles nothing: the payload would go out in clear, marked encrypted.
      if (EncoderDetail::GenEncKey(customer_key, efuse_key, &*keys.key_table) == 0) {
        Refuse(fmt::format("Key file [{}] with these keys gives the encryption key 0, which scrambles nothing",
                           key_file));
      }
    }
  }
  return keys;
}

std::string EncOutputName(const std::string& target, const std::string& name) {
  return (name.empty() ? "models_" + target : name) + ".enc";
}

namespace {

// The marked setup of every model, after the checks that its pieces can be scrambled.
std::vector<std::vector<uint8_t>> MarkedSetups(const std::vector<BNX_FW_INFO_MODEL>& records, const uint8_t* all_models,
                                               const std::vector<ModelPieces>& layout,
                                               const std::vector<uint8_t>& key_data, talvex::Status& notes) {
  std::vector<std::vector<uint8_t>> setups;
  for (size_t i = 0; i < records.size(); ++i) {
    const BNX_FW_INFO_MODEL& r = records[i];
    if (r.size_cmd % 4 != 0) {
      Refuse(fmt::format("Command of {} has {} bytes, cannot be scrambled: length % 4 == 0", ModelName(r, i),
                         r.size_cmd));
    }
    if (r.size_wt % 16 != 0) {
      Refuse(fmt::format("Weight of {} has {} bytes, cannot be scrambled: length % 16 == 0", ModelName(r, i),
                         r.size_wt));
    }
    setups.push_back(MarkSetup(all_models + layout[i].setup, r.size_fw, key_data, ModelName(r, i), notes));
  }
  return setups;
}

// The setups grew: the pieces move in device memory as they do in the file, from the first
// command start (every setup padded to 16 there).
void MovePieceAddresses(std::vector<BNX_FW_INFO_MODEL>& records, const std::vector<ModelPieces>& layout) {
  if (records.empty()) return;
  const uint64_t base = records[0].addr_cmd;
  for (size_t i = 0; i < records.size(); ++i) {
    BNX_FW_INFO_MODEL& r = records[i];
    const ModelPieces& p = layout[i];
    if (base + p.setup + Pad16(r.size_fw) > std::numeric_limits<uint32_t>::max()) {
      Refuse(fmt::format("The binaries of {} pass the end of the 32-bit address space after the key data was added",
                         ModelName(r, i)));
    }
    r.addr_cmd = static_cast<uint32_t>(base + p.cmd);
    r.addr_wt = static_cast<uint32_t>(base + p.weight);
    r.addr_fw = static_cast<uint32_t>(base + p.setup);
  }
}

// The CRCs are taken from the encrypted bytes as they are made; they are made again when written.
void TakeEncryptedCrcs(EncryptedLegacy& enc, const Encoder& encoder) {
  uint32_t whole = 0;
  for (size_t i = 0; i < enc.records.size(); ++i) {
    uint32_t crc = 0;
    EmitEncryptedBlock(enc, i, encoder, [&](LegacyPart, const uint8_t* d, size_t n) {
      crc = Crc32Update(crc, d, n);
      return true;
    }, &enc.notes);
    enc.block_crcs.push_back(crc);
    whole = i == 0 ? crc : static_cast<uint32_t>(::crc32_combine(whole, crc, static_cast<z_off_t>(enc.layout[i].size())));
  }
  enc.all_models_crc = whole;
}

}  // namespace

EncryptedLegacy PostEncAllModels(TalvexBNX::NPUTarget target, const std::vector<BNX_FW_INFO_MODEL>& records,
                                 const uint8_t* all_models, size_t all_models_size, const Encoder& encoder,
                                 const std::vector<uint8_t>& key_data, const SourceReadDone& read_done) {
  const bool customer = !key_data.empty();
  EncryptedLegacy enc;
  // Everything that can refuse runs before the payload is touched: sizes, setups, new records.
  enc.source_layout = CheckBlocksFit(records, all_models_size);
  enc.setups = MarkedSetups(records, all_models, enc.source_layout, key_data, enc.notes);
  enc.records = records;
  for (size_t i = 0; i < records.size(); ++i) enc.records[i].size_fw = static_cast<uint32_t>(enc.setups[i].size());
  enc.layout = PieceLayout(enc.records);
  if (customer) MovePieceAddresses(enc.records, enc.layout);
  const uint64_t total = enc.layout.empty() ? 0 : enc.layout.back().end;
  if (total > talvex::kMaxInputBytes) {
    Refuse(fmt::format("The encrypted all_models.bin would hold {} bytes, more than a BNX file can carry (2 GiB)",
                       total));
  }
  enc.all_models_size = static_cast<size_t>(total);
  enc.source = all_models;
  enc.source_records = records;
  enc.relocate = customer && target == TalvexBNX::NPUTarget::TZ100;
  enc.read_done = read_done;
  TakeEncryptedCrcs(enc, encoder);
  return enc;
}

bool EmitEncryptedBlock(const EncryptedLegacy& enc, size_t i, const Encoder& encoder, const LegacySink& sink,
                        talvex::Status* notes) {
  const BNX_FW_INFO_MODEL& r = enc.records[i];
  const ModelPieces& from = enc.source_layout[i];
  const ModelPieces& to = enc.layout[i];
  const uint8_t* cmd = enc.source + from.cmd;
  const uint8_t* wt = enc.source + from.weight;
  static const uint8_t kZeros[16] = {};
  auto put = [&](LegacyPart part, const uint8_t* d, size_t n) { return n == 0 || sink(part, d, n); };
  std::vector<uint8_t> chunk(std::min<size_t>(kChunk, std::max<size_t>(r.size_cmd, r.size_wt)));
  // Scrambled through one small buffer: the encrypted payload is never held whole.
  auto scrambled = [&](LegacyPart part, const uint8_t* src, size_t n, size_t unit) {
    for (size_t off = 0; off < n; off += kChunk) {
      const size_t len = std::min(kChunk, n - off);
      std::memcpy(chunk.data(), src + off, len);
      encoder.Encode(reinterpret_cast<char*>(chunk.data()), len, unit);
      if (!put(part, chunk.data(), len)) return false;
    }
    return true;
  };
  bool ok = true;
  if (enc.relocate) {
    // Addresses are rewritten in the plain words; scrambled words cannot be relocated.
    std::vector<uint8_t> relocated(cmd, cmd + r.size_cmd);
    talvex::Status moved =
        UpdateTZ100CommandBin(relocated.data(), r.size_cmd, ToFirmInfo(r), ToFirmInfo(enc.source_records[i]));
    if (!moved.ok()) {
      Refuse(fmt::format("Failed to relocate the command.bin of {}: {}", ModelName(r, i), moved.Reason()));
    }
    if (notes != nullptr) notes->Merge(std::move(moved));
    ok = scrambled(LegacyPart::kCommand, relocated.data(), r.size_cmd, 4);
  } else {
    ok = scrambled(LegacyPart::kCommand, cmd, r.size_cmd, 4);
  }
  ok = ok && put(LegacyPart::kPad, kZeros, to.weight - to.cmd - r.size_cmd);
  ok = ok && scrambled(LegacyPart::kWeight, wt, r.size_wt, 16);  // a multiple of 16
  const std::vector<uint8_t>& setup = enc.setups[i];
  ok = ok && put(LegacyPart::kSetup, setup.data(), setup.size());
  ok = ok && put(LegacyPart::kPad, kZeros, to.end - to.setup - setup.size());
  if (enc.read_done) enc.read_done(from.cmd, from.size());
  return ok;
}

std::vector<uint8_t> EncryptedFWInfo(const EncryptedLegacy& enc, std::string* text) {
  std::vector<uint32_t> crcs{enc.all_models_crc};
  crcs.insert(crcs.end(), enc.block_crcs.begin(), enc.block_crcs.end());
  return BuildFWInfo(enc.records, crcs, text);
}

namespace {

// The encoder of keys and, in customer-key mode, the decrypt key data stored with each model.
struct KeyMaterial {
  Encoder encoder;
  std::vector<uint8_t> key_data;
};

KeyMaterial KeyMaterialOf(const PostEncKeys& keys) {
  if (!keys.customer_mode()) return {Encoder(keys.customer_key, keys.efuse_key, nullptr), {}};
  const KeyFile& file = keys.key_table ? *keys.key_table : Encoder::LoadKeyFile(keys.key_file);
  KeyMaterial key{Encoder(keys.customer_key, keys.efuse_key, &file), {}};
  for (uint32_t w : Encoder::GenDecryptKeyData(keys.customer_key, file)) talvex::AppendLE32(key.key_data, w);
  return key;
}

// With -l: the encrypted per-model files and all_models.bin, made in one pass and put in place in
// that order, then fw_info.bin and fw_info.txt.
void WriteEncryptedPieces(const EncryptedLegacy& enc, const Encoder& encoder, const std::string& prefix,
                          const std::vector<uint8_t>& fw_info, const std::string& text,
                          std::vector<std::string>& intermediates) {
  const std::string dir = GetOutputDir();
  auto fail = [](talvex::AtomicFileWriter& out, const std::string& path) {
    throw TalvexException(ErrorCode::Common, fmt::format("Failed to write file {}: {}", path, out.error()));
  };
  const std::string all_path = dir + prefix + "_all_models.bin";
  talvex::AtomicFileWriter all(all_path);
  for (size_t i = 0; i < enc.records.size(); ++i) {
    const std::string stem = dir + prefix + "_modelid_" + std::to_string(enc.records[i].model_id);
    const std::string paths[3] = {stem + "_command.bin", stem + "_weight.bin", stem + "_setup.bin"};
    talvex::AtomicFileWriter cmd(paths[0]), wt(paths[1]), setup(paths[2]);
    talvex::AtomicFileWriter* part_file[] = {&cmd, &wt, &setup};
    const bool ok = EmitEncryptedBlock(enc, i, encoder, [&](LegacyPart part, const uint8_t* d, size_t n) {
      const bool kept = part == LegacyPart::kPad || part_file[static_cast<int>(part)]->Write(d, n);
      return kept && all.Write(d, n);
    });
    for (int k = 0; k < 3 && !ok; ++k) {
      if (!part_file[k]->ok()) fail(*part_file[k], paths[k]);
    }
    if (!ok) fail(all, all_path);
    for (int k = 0; k < 3; ++k) {
      if (!part_file[k]->Commit()) fail(*part_file[k], paths[k]);
      intermediates.push_back(paths[k]);
    }
  }
  if (!all.Commit()) fail(all, all_path);
  intermediates.push_back(all_path);
  for (const auto& [path, bytes] : {std::make_pair(dir + prefix + "_fw_info.bin", std::string(fw_info.begin(), fw_info.end())),
                                    std::make_pair(dir + "fw_info.txt", text)}) {
    talvex::WriteFileOrThrow(path, bytes.data(), bytes.size());
    intermediates.push_back(path);
  }
}

// The new container around the encrypted payload, made block by block as it is written.
std::string WriteEncryptedContainer(BNX_Args& args, const EncryptedLegacy& enc, const Encoder& encoder,
                                    const std::vector<uint8_t>& fw_info, const std::string& out_name,
                                    const std::vector<ModelInfoText>& models) {
  GenInputs in;
  in.target = GetTargetEnum(args.target);
  in.payload_size = enc.all_models_size;
  in.payload_crc = enc.all_models_crc;
  in.major = enc.setups.empty() ? SchemaMajorFor(in.target, nullptr, 0)
                                : SchemaMajorFor(in.target, enc.setups[0].data(), enc.setups[0].size());
  PayloadFill fill;
  fill.size = enc.all_models_size;
  fill.crc = enc.all_models_crc;
  fill.write = [&](talvex::AtomicFileWriter& out) {
    for (size_t i = 0; i < enc.records.size(); ++i) {
      const bool ok = EmitEncryptedBlock(enc, i, encoder,
                                         [&](LegacyPart, const uint8_t* d, size_t n) { return out.Write(d, n); });
      if (!ok) return false;
    }
    return true;
  };
  return WriteBNXAround(args, in, fw_info, fill, out_name, &models);
}

PostEncResult PostEncLegacy(SourceBNX src, const std::string& bnx_path, const PostEncKeys& keys,
                            const std::string& output_file_prefix, const PostEncOptions& options) {
  PostEncResult result;
  TALVEX_STATUS_KEY_LOG(result.notes, LogCateg::Common, "post enc, bnx path, tv number:{:s}, {:x}, {:x}", bnx_path,
                        keys.customer_key, keys.efuse_key);
  if (src.major == 2) {
    Refuse(fmt::format("The container carries a TXM file, not fw_info.bin/all_models.bin: {}", bnx_path));
  }
  const uint8_t* fw = src.fw_info == nullptr ? nullptr : src.fw_info->data();
  const size_t fw_size = src.fw_info == nullptr ? 0 : src.fw_info->size();
  const FWInfoTable table = DecodeFWInfoExact(fw, fw_size);
  CheckBlocksFit(table.records, src.all_models->size());

  const std::string prefix = output_file_prefix.empty() ? "BNX_" + src.crc_text : output_file_prefix;
  const std::string out_name = EncOutputName(src.target_str, prefix);
  result.output_path = GetOutputFilePath(src.target_str, out_name);
  CheckNotInput(result.output_path);

  const KeyMaterial key = KeyMaterialOf(keys);

  BNX_Args args = ArgsFromSource(src);
  SetKeyFields(args, keys);
  const std::vector<ModelInfoText> models = SourceModels(src, table.records);

  // The source pages of a block are given back once it is encrypted, each time it is.
  const size_t source_at = static_cast<size_t>(src.all_models->data() - src.file.data());
  auto read_done = [&](uint64_t offset, uint64_t len) { src.file.ReleasePages(source_at + offset, len); };
  EncryptedLegacy enc = PostEncAllModels(src.target, table.records, src.all_models->data(), src.all_models->size(),
                                         key.encoder, key.key_data, read_done);
  result.notes.Note(std::move(enc.notes));

  std::string text;
  const std::vector<uint8_t> fw_info = EncryptedFWInfo(enc, &text);

  if (options.keep_intermediate) WriteEncryptedPieces(enc, key.encoder, prefix, fw_info, text, result.intermediates);

  result.output_path = WriteEncryptedContainer(args, enc, key.encoder, fw_info, out_name, models);
  return result;
}

// Packs the encrypted tree into reserved in the order the generated packer uses for a whole tree
// (TXM::PackTxm): header, then the models in turn, then the root, so the bytes are those of
// packing the encrypted tree. txm holds the tables only: each model gets its payloads from flat
// just before it is encrypted and packed, and lets them go after, so one model's payloads are
// held at a time (their pages in file given back as well).
void PackEncryptedTxm(TalvexTXM::TXMContentT& txm, const flatbuffers::Vector<flatbuffers::Offset<TalvexTXM::Model>>* flat,
                      const BnxFile& file, const KeyMaterial& key, const std::string& bnx_path,
                      flatbuffers::FlatBufferBuilder& reserved) {
  const auto header_off = txm.header ? TXM::PackTxmHeader(reserved, *txm.header) : 0;
  std::vector<flatbuffers::Offset<TalvexTXM::Model>> model_offs;
  TXM::PayloadSpares spares;
  for (size_t i = 0; i < txm.models.size(); ++i) {
    const TalvexTXM::Model* flat_model = flat->Get(static_cast<flatbuffers::uoffset_t>(i));
    TalvexTXM::TXMContentT one;
    one.models.push_back(std::move(txm.models[i]));
    if (!TXM::FillModelPayloads(flat_model, one.models[0].get(), &spares)) {
      Refuse(fmt::format("Failed to parse the txm file in {}", bnx_path));
    }
    TXM::ForEachModelPayload(flat_model, [&](const uint8_t* d, size_t n) {
      file.ReleasePages(static_cast<size_t>(d - file.data()), n);
    });
    TXM::PostEnc(one, key.encoder, key.key_data);
    model_offs.push_back(TXM::PackModel(reserved, *one.models[0]));
    spares.Take(flat_model, one.models[0].get());
  }
  const auto models_off = model_offs.empty() ? 0 : reserved.CreateVector(model_offs);
  reserved.Finish(TalvexTXM::CreateTXMContent(reserved, txm.magic, header_off, models_off));
}

// The generation inputs of a container carrying the packed TXM file: its model ids and CRC.
GenInputs TxmPayloadInputs(TalvexBNX::NPUTarget target, const uint8_t* packed, size_t packed_size,
                           const std::string& bnx_path) {
  GenInputs in;
  in.target = target;
  in.major = 2;
  in.payload = packed;
  in.payload_size = packed_size;
  const auto* models = flatbuffers::GetRoot<TalvexTXM::TXMContent>(packed)->models();
  for (flatbuffers::uoffset_t i = 0; models != nullptr && i < models->size(); ++i) {
    const auto* header = models->Get(i)->header();
    if (header == nullptr) Refuse(fmt::format("TXM model #{} has no header: {}", i, bnx_path));
    in.txm_model_ids.push_back(header->id());
  }
  in.payload_crc = Crc32Update(0, packed, packed_size);
  return in;
}

PostEncResult PostEncTxmPayload(SourceBNX src, const std::string& bnx_path, const PostEncKeys& keys,
                                uint32_t tv_number, const std::string& output_folder, const std::string& output_name,
                                const PostEncOptions& options) {
  if (src.major != 2) Refuse(fmt::format("The container carries no TXM file: {}", bnx_path));
  const uint8_t* txm_bytes = src.all_models->data();
  const size_t txm_size = src.all_models->size();
  if (!TXM::VerifyTXMBuffer(txm_bytes, txm_size)) {
    Refuse(fmt::format("The payload of the container is not a valid TXM file: {}", bnx_path));
  }
  const std::string out_name = EncOutputName(src.target_str, output_name);
  PostEncResult result;
  result.txm_payload = true;
  result.output_path = GetOutputFilePath(src.target_str, out_name);
  CheckNotInput(result.output_path);
  BNX_Args args = ArgsFromSource(src);
  args.tv_number = tv_number;
  args.encryption_mode =
      static_cast<int8_t>(tv_number != 0 ? TalvexBNX::ENCMode::EM_TVNum : TalvexBNX::ENCMode::EM_CUSTOM);

  // Only the tables are unpacked up front; each model gets its payloads just before it is
  // encrypted and packed, and lets them go after, so one model's payloads are held at a time.
  TalvexTXM::TXMContentT txm;
  talvex::Status parsed = TXM::UnpackTxmTables(txm, txm_bytes, txm_size);
  if (!parsed.ok()) Refuse(std::move(parsed), fmt::format("Failed to parse the txm file in {}", bnx_path));
  const size_t model_count = txm.models.size();
  const auto* flat_models = flatbuffers::GetRoot<TalvexTXM::TXMContent>(txm_bytes)->models();
  if (model_count != (flat_models == nullptr ? 0 : flat_models->size())) {
    Refuse(fmt::format("Failed to parse the txm file in {}", bnx_path));
  }

  // With -l the encrypted TXM file is kept too, named as the TXM writer names a dumped file.
  const std::string txm_path =
      options.keep_intermediate
          ? TxmWriter::OutputPath(txm.header ? txm.header->target : TalvexTXM::NPUTarget::UNKNOW, output_folder,
                                  output_name, -1, -1, "")
          : "";
  if (!txm_path.empty()) CheckNotInput(txm_path);

  const KeyMaterial key = KeyMaterialOf(keys);
  // Room for the whole packed file up front: growing a builder of this size would hold the
  // old and the new buffer at once.
  talvex::MappedBuilderAllocator allocator(talvex::MappedBuilderAllocator::Pages::kHuge);
  flatbuffers::FlatBufferBuilder reserved(txm_size + model_count * (KEY_DATA_BYTES + 64) + (1 << 20), &allocator);
  PackEncryptedTxm(txm, flat_models, src.file, key, bnx_path, reserved);
  txm = TalvexTXM::TXMContentT();
  src = SourceBNX();
  const uint8_t* packed = reserved.GetBufferPointer();
  const size_t packed_size = reserved.GetSize();

  GenInputs in = TxmPayloadInputs(GetTargetEnum(args.target), packed, packed_size, bnx_path);
  if (!txm_path.empty()) {
    talvex::WriteFileOrThrow(txm_path, packed, packed_size);
    result.intermediates.push_back(txm_path);
  }
  result.output_path = WriteContainer(args, in, nullptr, {}, out_name);
  return result;
}

}  // namespace

PostEncResult PostEncContainer(const std::string& bnx_path, const PostEncKeys& keys, uint32_t tv_number,
                               const std::string& output_folder, const std::string& output_name,
                               const PostEncOptions& options) {
  SourceBNX src = OpenSource(bnx_path);
  if (src.major == 2) {
    return PostEncTxmPayload(std::move(src), bnx_path, keys, tv_number, output_folder, output_name, options);
  }
  return PostEncLegacy(std::move(src), bnx_path, keys, output_name, options);
}

}  // namespace BNXUtils
