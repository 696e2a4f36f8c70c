// The memory map as an SVG picture (-I --map): one column per model, every region a box drawn to
// scale on one address axis that all columns share, labels beside the boxes, overlaps in red.
#include <algorithm>

#include <fmt/format.h>

#include "cli/model_layout.h"
#include "common/strings.h"

namespace {

constexpr double kTop = 70;         // title and column heads above the axis
constexpr double kHeight = 720;     // the address axis
constexpr double kAxisWidth = 120;  // tick labels left of the axis
constexpr double kBoxWidth = 150;
constexpr double kColumnWidth = 450;  // box, leader lines and labels
constexpr double kLabelStep = 14;     // least distance between two labels of a column

// Text for XML: valid UTF-8, markup characters escaped, control characters (not allowed in XML)
// replaced.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : ToValidUtf8(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

const char* Fill(const std::string& region) {
  static const std::pair<const char*, const char*> kFills[] = {
      {"input", "#8ecae6"},  {"output", "#90be6d"}, {"working_buffer", "#f9c74f"}, {"command", "#f8961e"},
      {"weight", "#9fb3c8"}, {"setup", "#c8a2f0"},  {"const_input", "#7fd1b9"},    {"cpu_temp", "#ced4da"}};
  for (const auto& f : kFills) {
    if (region == f.first) return f.second;
  }
  return "#e9ecef";
}

// The shared address axis: from the lowest start to the highest end over every model.
struct Axis {
  uint64_t lo = 0;
  uint64_t hi = 1;
  double Y(uint64_t addr) const {
    return kTop + static_cast<double>(static_cast<long double>(addr - lo) / (hi - lo) * kHeight);
  }
};

Axis AxisOf(const std::vector<ModelLayout>& models) {
  Axis a{UINT64_MAX, 0};
  for (const ModelLayout& m : models) {
    for (const LayoutRegion& r : m.regions) a.lo = std::min(a.lo, r.start), a.hi = std::max(a.hi, r.end());
  }
  if (a.lo >= a.hi) a = {a.lo == UINT64_MAX ? 0 : a.lo, (a.lo == UINT64_MAX ? 0 : a.lo) + 1};
  return a;
}

std::string AxisSvg(const Axis& a) {
  std::string s = fmt::format(R"(<line x1="{0}" y1="{1}" x2="{0}" y2="{2}" stroke="#333"/>)"
                              "\n",
                              kAxisWidth - 6, kTop, kTop + kHeight);
  // Both ends, and between them round addresses: multiples of the power of two that gives about
  // eight steps, none drawn too near an end to be read.
  std::vector<uint64_t> ticks = {a.lo};
  uint64_t step = 1;
  while (step < (a.hi - a.lo) / 8 && step < (uint64_t{1} << 62)) step <<= 1;
  for (uint64_t t = (a.lo / step + 1) * step; t > a.lo && t < a.hi; t += step) {
    if (a.Y(t) - a.Y(a.lo) > 20 && a.Y(a.hi) - a.Y(t) > 20) ticks.push_back(t);
    if (t > UINT64_MAX - step) break;
  }
  ticks.push_back(a.hi);
  for (uint64_t addr : ticks) {
    const double y = a.Y(addr);
    s += fmt::format(R"(<line x1="{0}" y1="{1:.1f}" x2="{2}" y2="{1:.1f}" stroke="#333"/>)"
                     R"(<text x="{3}" y="{4:.1f}" text-anchor="end" class="tick">{5:#010x}</text>)"
                     "\n",
                     kAxisWidth - 10, y, kAxisWidth - 6, kAxisWidth - 14, y + 4, addr);
  }
  return s;
}

// Label positions: each as near its box's middle as the labels above and below allow.
std::vector<double> LabelYs(std::vector<double> want) {
  std::vector<size_t> order(want.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return want[x] < want[y]; });
  std::vector<double> ys(want.size());
  double last = kTop - kLabelStep;
  for (size_t i : order) last = ys[i] = std::max(want[i], last + kLabelStep);
  double limit = kTop + kHeight + 30;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    ys[*it] = std::min(ys[*it], limit);
    limit = ys[*it] - kLabelStep;
  }
  return ys;
}

std::string ColumnSvg(const ModelLayout& m, size_t index, const Axis& a) {
  const double x = kAxisWidth + index * kColumnWidth + 10;
  std::string s = fmt::format(R"(<g class="model" data-id="{0}">)"
                              "\n"
                              R"(<text x="{1}" y="{2}" class="head">Model #{3} (id {0})</text>)"
                              "\n",
                              m.id, x, kTop - 12, index + 1);
  s += fmt::format(R"(<rect x="{0}" y="{1}" width="{2}" height="{3}" fill="none" stroke="#ccc" stroke-dasharray="4 3"/>)"
                   "\n",
                   x, kTop, kBoxWidth, kHeight);
  const std::vector<MapEntry> map = MemoryMap(m.regions);
  std::vector<double> want;
  for (const LayoutRegion& r : m.regions) want.push_back((a.Y(r.start) + a.Y(r.end())) / 2);
  const std::vector<double> label_y = LabelYs(want);
  for (size_t i = 0; i < m.regions.size(); ++i) {
    const LayoutRegion& r = m.regions[i];
    const bool overlapped = std::any_of(map.begin(), map.end(), [&](const MapEntry& e) {
      return e.kind == MapEntry::Kind::kOverlap && (e.name == r.name || e.other == r.name);
    });
    const double y = a.Y(r.start);
    const double h = std::max(a.Y(r.end()) - y, 1.0);
    s += fmt::format(R"(<rect class="region" data-name="{0}" x="{1}" y="{2:.2f}" width="{3}" height="{4:.2f}" )"
                     R"(fill="{5}" stroke="{6}" stroke-width="{7}"><title>{0}: {8:#x} + {9:#x}</title></rect>)"
                     "\n",
                     Escaped(r.name), x, y, kBoxWidth, h, Fill(r.name), overlapped ? "#d00000" : "#555",
                     overlapped ? 2 : 1, r.start, r.size);
    s += fmt::format(R"(<polyline points="{0},{1:.2f} {2},{3:.2f}" fill="none" stroke="#999"/>)"
                     R"(<text x="{4}" y="{5:.2f}" class="label">{6}  {7:#010x}  size {8:#x}</text>)"
                     "\n",
                     x + kBoxWidth, want[i], x + kBoxWidth + 14, label_y[i], x + kBoxWidth + 18, label_y[i] + 4,
                     Escaped(r.name), r.start, r.size);
  }
  for (const MapEntry& e : map) {
    if (e.kind != MapEntry::Kind::kOverlap) continue;
    const double y = a.Y(e.start);
    s += fmt::format(R"(<rect class="overlap" x="{0}" y="{1:.2f}" width="{2}" height="{3:.2f}" fill="#d00000" )"
                     R"(fill-opacity="0.45"><title>overlap: {4} / {5}, {6:#x} + {7:#x}</title></rect>)"
                     "\n",
                     x, y, kBoxWidth, std::max(a.Y(e.end()) - y, 1.0), Escaped(e.name), Escaped(e.other), e.start,
                     e.size);
  }
  return s + "</g>\n";
}

}  // namespace

std::string MemoryMapSvg(const std::vector<ModelLayout>& models, const std::string& title) {
  const Axis axis = AxisOf(models);
  const double width = kAxisWidth + std::max<size_t>(models.size(), 1) * kColumnWidth + 20;
  const double height = kTop + kHeight + 50;
  std::string s = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="{0}" height="{1}" viewBox="0 0 {0} {1}">)"
      "\n<style>text {{ font-family: monospace; font-size: 11px; fill: #222; }} .head {{ font-size: 13px; "
      "font-weight: bold; }} .title {{ font-size: 14px; }}</style>\n"
      R"(<rect width="100%" height="100%" fill="#fff"/>)"
      "\n"
      R"(<text x="10" y="22" class="title">Memory map of {2}</text>)"
      "\n",
      width, height, Escaped(title));
  s += AxisSvg(axis);
  for (size_t i = 0; i < models.size(); ++i) s += ColumnSvg(models[i], i, axis);
  return s + "</svg>\n";
}
