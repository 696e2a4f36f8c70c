#pragma once
// Line builders shared by the framed text reports (the fw_info model table, the TXM model
// report and the setup summary inside both): one place for the frame, the width, the address
// line, the memory summary and the tensor block.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talvex {

// Characters between the two vertical bars of a framed line.
constexpr int kReportWidth = 60;

// "│" + text padded with blanks to width characters + "│\n" (longer text is kept whole).
std::string FramedLine(const std::string& text, int width = kReportWidth);
// "┌" + title + "─" up to the width + "┐\n", and "└" + "─" + title (right-aligned) + "┘\n".
std::string BoxTop(const std::string& title, int width = kReportWidth);
std::string BoxBottom(const std::string& title, int width = kReportWidth);

// "    [ input] 0x60000000 L =   150528 : 0x00024c00" (without the frame).
std::string AddrLine(const char* name, uint32_t addr, uint32_t len);

// The four-line memory summary and an empty line.
std::string MemorySummary(uint32_t ddr_start, uint32_t ddr_end, uint32_t space_needed, uint32_t model_size);


// One fixed-point quantisation entry of a tensor and how the text shows its scale.
struct ReportFxp {
  double scale = 0;
  int64_t radix = 0;
  int decimals = 3;
  bool scale_known = true;  // false: the stored form has no scale (shown as "defualt")
};

// One tensor of a report: the text reports and the JSON documents are both made from it.
struct ReportTensor {
  std::string name;
  std::string format;
  int64_t shape[4] = {0, 0, 0, 0};  // batch, ch, row, col
  std::vector<ReportFxp> quantization;
  int64_t entry = 0;
  int64_t len = 0;
};

// The framed lines of tensor `index`: name, format, shape, quantization, buffer, empty line.
std::string TensorBlock(size_t index, const ReportTensor& t, int width = kReportWidth);

}  // namespace talvex
