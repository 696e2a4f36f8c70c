// The TXM model report of extraction (-X -s on a model container).
#include "cli/txm_report.h"

#include <iostream>

#include <fmt/format.h>

#include "bnx/container.h"
#include "cli/model_modes.h"
#include "common/logger.h"
#include "common/report_text.h"
#include "txm_generated.h"

namespace {

using BNXUtils::MODEL_CORES;
using BNXUtils::MODEL_INFO;
using BNXUtils::TXM_TENSOR;

constexpr int kNpuEUParams = 1;
constexpr int kCpuEUParams = 2;
constexpr int kLoopEUParams = 3;

// The stored mode may be any byte; only the schema's own values have a name.
std::string EncryptModeName(int32_t mode) {
  const int32_t first = static_cast<int32_t>(TalvexTXM::EncryptedMode::MIN);
  const int32_t last = static_cast<int32_t>(TalvexTXM::EncryptedMode::MAX);
  if (mode < first || mode > last) return "";
  return TalvexTXM::EnumNamesEncryptedMode()[mode - first];
}

using talvex::AddrLine;
using talvex::FramedLine;

std::string PayloadLine(const char* name, uint64_t addr, uint64_t len) {
  return fmt::format("      [{0:>{1}}] {2}{3:^{4}}L = {5:>{6}} : {5:#010x}", name, 6, "",
                     fmt::format("0x{:x}", addr), 12, len, 8);
}

std::string CoreField(size_t c, const char* label, const std::string& value) {
  return FramedLine(fmt::format("    < {0} > {1:<{2}} = {3}", c, label, 5, value));
}

}  // namespace

std::string GetMemoryInfoStr(const BNXUtils::ModelMemory& mm) {
  return talvex::MemorySummary(mm.DDR_start_addr, mm.DDR_end_addr, mm.DDR_space_needed, mm.model_size_no_header_buff);
}

void PrintMemoryInfo(const BNXUtils::ModelMemory& mm) { std::cout << GetMemoryInfoStr(mm); }

talvex::ReportTensor TxmReportTensor(const TXM_TENSOR& t) {
  talvex::ReportTensor r;
  r.name = t.name;
  r.format = std::to_string(t.format);
  r.shape[0] = t.shape_batch, r.shape[1] = t.shape_ch, r.shape[2] = t.shape_row, r.shape[3] = t.shape_col;
  r.quantization = {{t.quantParam.FirstScale(), t.quantParam.FirstRadix(), 3}};
  r.entry = t.buffer_entry;
  r.len = t.buffer_len;
  return r;
}

std::string GetNodeInfo(const std::vector<TXM_TENSOR>& nodes) {
  std::string s;
  for (size_t i = 0; i < nodes.size(); ++i) s += talvex::TensorBlock(i, TxmReportTensor(nodes[i]));
  return s;
}

std::string GetCoreInfo(const std::vector<MODEL_CORES>& cores) {
  std::string s = FramedLine("Model cores info: ");
  for (size_t c = 0; c < cores.size(); ++c) {
    const MODEL_CORES& core = cores[c];
    s += CoreField(c, "ID", std::to_string(core.id));
    switch (core.eu_params_type) {
      case kNpuEUParams:
        s += CoreField(c, "eu params type", "NPU EUParams");
        s += CoreField(c, "cmd address", std::to_string(core.npu_param.cmd_addr));
        s += CoreField(c, "cmd size", std::to_string(core.npu_param.cmd_size));
        s += CoreField(c, "weight address", std::to_string(core.npu_param.wt_addr));
        s += CoreField(c, "weight size", std::to_string(core.npu_param.wt_size));
        break;
      case kCpuEUParams:
        s += CoreField(c, "eu params type", "CPU EUParams");
        break;
      case kLoopEUParams:
        s += CoreField(c, "eu params type", "LOOP EUParams");
        s += CoreField(c, "max trip count", std::to_string(core.loop_param.max_trip_count));
        break;
      default:
        break;
    }
  }
  return s;
}

std::string GetCMDWTInfoStr(const MODEL_INFO& info) {
  std::string s;
  for (size_t c = 0; c < info.model_core.size(); ++c) {
    const MODEL_CORES& core = info.model_core[c];
    s += FramedLine(fmt::format("    < {0} > {1} :", c, "Core"));
    if (core.eu_params_type == kNpuEUParams) {
      s += FramedLine(PayloadLine("cmd", core.npu_param.cmd_addr, core.npu_param.cmd_size));
      s += FramedLine(PayloadLine("weight", core.npu_param.wt_addr, core.npu_param.wt_size));
    } else {
      s += FramedLine("      [" +
                      fmt::format("Display unsupported EUParams type: {0}",
                                  static_cast<int>(core.eu_params_type)) +
                      "]");
    }
  }
  return s;
}

std::string GetModelsInfoStr(const MODEL_INFO& info, int index) {
  const BNXUtils::MODEL_HEADER& h = info.model_header;
  const std::string title = fmt::format(" Model #{0} ", index + 1);
  const std::string rule(TXM_REPORT_WIDTH, '=');

  std::string s = talvex::BoxTop(title);
  s += FramedLine("");
  s += FramedLine(fmt::format("{0:<{1}} = [{2}]:[0x{2:x}]", "Model ID", 15, h.model_id));
  s += FramedLine(fmt::format("{0:<{1}} = [{2}]:[{3}]", "Encryption Mode", 15, h.encryp.mode,
                              EncryptModeName(h.encryp.mode)));
  s += FramedLine("");
  s += FramedLine("Addr(IN/OUT/WBUF)");
  s += FramedLine(AddrLine("input", h.addr_in, h.size_in));
  s += FramedLine(AddrLine("output", h.addr_out, h.size_out));
  s += FramedLine(AddrLine("wbuf", h.addr_wbuf, h.size_wbuf));
  s += FramedLine("");
  s += FramedLine("Addr(CMD/WT)");
  s += GetCMDWTInfoStr(info);
  s += FramedLine("");
  s += FramedLine(rule);
  s += FramedLine("");
  s += FramedLine(fmt::format("{0:<{1}} = [{2}]", "setup.bin format", 15, h.format));
  s += FramedLine("Input node info:");
  s += GetNodeInfo(h.input_nodes);
  s += FramedLine("Output node info:");
  s += GetNodeInfo(h.output_nodes);
  s += FramedLine(rule);
  s += GetCoreInfo(info.model_core);
  s += talvex::BoxBottom(title) + "\n";
  return s;
}

void PrintModelsInfo(const MODEL_INFO& info, int index) { std::cout << GetModelsInfoStr(info, index); }

int GetTXMModelInfo(const std::string& txm_path) {
  // One verified read serves the whole report.
  talvex::FileBuffer fb;
  if (talvex::Report(BNXUtils::GetTXMBuffer(txm_path, fb)) != 0) {
    std::cerr << "Failed to read the TXM file: " << txm_path << std::endl;
    return -1;
  }
  const auto* txm = flatbuffers::GetRoot<TalvexTXM::TXMContent>(fb.data());
  const int count = txm->models() != nullptr ? static_cast<int>(txm->models()->size()) : 0;
  if (count == 0) {
    std::cerr << "No model in the TXM file: " << txm_path << std::endl;
    return -1;
  }

  BNXUtils::ModelMemory mm;
  if (talvex::Report(BNXUtils::ReadBNXModelMemory(txm, &mm)) != 0) {
    std::cerr << "Failed to read the memory layout of the TXM file: " << txm_path << std::endl;
    return -1;
  }
  PrintMemoryInfo(mm);

  for (int m = 0; m < count; ++m) {
    MODEL_INFO info;
    if (talvex::Report(BNXUtils::ReadTXMModelInfo(txm, fb.data(), m, info.model_header)) != 0 ||
        talvex::Report(BNXUtils::ReadTXMModelCore(txm, fb.data(), m, info.model_core, false)) != 0) {
      std::cerr << "Failed to read model #" << m << " of the TXM file: " << txm_path << std::endl;
      return -1;
    }
    PrintModelsInfo(info, m);
    for (size_t c = 0; c < info.model_core.size(); ++c) {
      const std::string prefix = fmt::format("model_{0}_core_{1}_", info.model_header.model_id, c);
      // Copied from the TXM file itself: the payloads never pass through memory here.
      const BNXUtils::npu_eu_param_s& npu = info.model_core[c].npu_param;
      SaveCmdWtRange(prefix + "cmd_buffer", fb, npu.cmd_addr, npu.cmd_size);
      SaveCmdWtRange(prefix + "weight_buffer", fb, npu.wt_addr, npu.wt_size);
    }
  }
  std::cout.flush();
  return 0;
}
