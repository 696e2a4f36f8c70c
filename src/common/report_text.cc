#include "common/report_text.h"

#include <fmt/format.h>

namespace talvex {

std::string FramedLine(const std::string& text, int width) {
  return fmt::format("│{0: <{1}}│\n", text, width < 0 ? 0 : width);
}

std::string BoxTop(const std::string& title, int width) { return fmt::format("┌{0:─<{1}}┐\n", title, width); }

std::string BoxBottom(const std::string& title, int width) { return fmt::format("└{0:─>{1}}┘\n", title, width); }

std::string AddrLine(const char* name, uint32_t addr, uint32_t len) {
  return fmt::format("    [{0:>{1}}]{2:^{3}}L = {4:>{5}} : {4:#010x}", name, 6, fmt::format("0x{:x}", addr), 12, len,
                     8);
}

std::string MemorySummary(uint32_t ddr_start, uint32_t ddr_end, uint32_t space_needed, uint32_t model_size) {
  constexpr int kLabel = 30;
  constexpr double kMiB = 1024.0 * 1024.0;
  std::string s;
  s += fmt::format("{0:<{1}} = [{2:#010x}]\n", "DDR start addr", kLabel, ddr_start);
  s += fmt::format("{0:<{1}} = [{2:#010x}]\n", "DDR end addr", kLabel, ddr_end);
  s += fmt::format("{0:<{1}} = [{2:#010x}] : {3:.2f} MB\n", "DDR space needed", kLabel, space_needed,
                   space_needed / kMiB);
  s += fmt::format("{0:<{1}} = [{2:#010x}] : {3:.2f} MB\n", "Model size(no heading buff)", kLabel, model_size,
                   model_size / kMiB);
  s += "\n";
  return s;
}

namespace {

// "           fxp_info [j] (scale, radix) = (<scale with its decimals>, radix)"
std::string FxpLine(size_t j, const ReportFxp& q) {
  const std::string scale = q.scale_known ? fmt::format("{0:.{1}f}", q.scale, q.decimals) : "defualt";
  return fmt::format("           {0} [{1}] (scale, radix) = ({2}, {3})", "fxp_info", j, scale, q.radix);
}

}  // namespace

std::string TensorBlock(size_t index, const ReportTensor& t, int width) {
  std::string s;
  s += FramedLine(fmt::format("    < {0} > {1:<{2}} = {3}", index, "Name", 5, t.name), width);
  s += FramedLine(fmt::format("    < {0} > {1:<{2}} = {3}", index, "Format", 28, t.format), width);
  s += FramedLine(fmt::format("    < {0} > {1:<{2}} = ({3}, {4}, {5}, {6})", index, "Shape (batch, ch, row, col)", 28,
                              t.shape[0], t.shape[1], t.shape[2], t.shape[3]),
                  width);
  s += FramedLine(fmt::format("    < {0} > {1} :", index, "Quantization"), width);
  for (size_t j = 0; j < t.quantization.size(); ++j) s += FramedLine(FxpLine(j, t.quantization[j]), width);
  s += FramedLine(fmt::format("    < {0} > {1} :", index, "Buffer"), width);
  s += FramedLine(fmt::format("           [{0:>{1}}] {2:>20} : {2:#010x}", "entry", 5, t.entry), width);
  s += FramedLine(fmt::format("           [{0:>{1}}] {2:>20} : {2:#010x}", "len", 5, t.len), width);
  s += FramedLine("", width);
  return s;
}

}  // namespace talvex
