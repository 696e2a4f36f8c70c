#include "setup/setup_report.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <fmt/format.h>

#include "common/report_text.h"

namespace {

const Json::Value& NullValue() {
  static const Json::Value null_value;
  return null_value;
}

// Member of an object; null for anything else, so a malformed view never throws.
const Json::Value& Member(const Json::Value& obj, const char* key) {
  if (!obj.isObject()) return NullValue();
  return obj[key];
}

const Json::Value& ArrayMember(const Json::Value& obj, const char* key) {
  static const Json::Value empty_array(Json::arrayValue);
  const Json::Value& v = Member(obj, key);
  return v.isArray() ? v : empty_array;
}

// A stored 32-bit word: negative values as signed, 2^31 and above as unsigned.
// Absent or non-numeric reads as 0.
int64_t Word(const Json::Value& v) {
  int64_t n = 0;
  if (v.isInt64()) {
    n = v.asInt64();
  } else if (v.isUInt64()) {
    n = static_cast<int64_t>(v.asUInt64() & 0xFFFFFFFFu);
  } else if (v.isDouble()) {
    const double d = v.asDouble();
    if (std::isfinite(d) && d > -2147483648.0 && d < 4294967296.0) n = static_cast<int64_t>(d);
  }
  if (n < 0) return static_cast<int32_t>(n);
  return static_cast<uint32_t>(n);
}

int64_t Word(const Json::Value& obj, const char* key) { return Word(Member(obj, key)); }

std::string Text(const Json::Value& obj, const char* key) {
  const Json::Value& v = Member(obj, key);
  return v.isString() ? v.asString() : std::string();
}

// The flatbuffer view writes a non-finite scale as null (shown as nan); absent means 0.
double Scale(const Json::Value& fxp) {
  const Json::Value& v = Member(fxp, "scale");
  if (v.isNumeric()) return v.asDouble();
  if (v.isNull() && fxp.isObject() && fxp.isMember("scale")) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return 0.0;
}

using talvex::ReportTensor;
using TensorView = talvex::ReportTensor;

std::string BoxLine(const std::string& content, int width) { return talvex::FramedLine(content, width); }

void AppendTensor(std::string& out, size_t index, const ReportTensor& t, int width) {
  out += talvex::TensorBlock(index, t, width);
}

// Output info node of a raw view (TZ100 and TZ200 alike).
TensorView RawOutput(const Json::Value& node) {
  TensorView t;
  t.format = fmt::format("{}", Word(node, "data_format"));
  t.shape[0] = 1;
  t.shape[1] = Word(node, "ch_length");
  t.shape[2] = Word(node, "row_length");
  t.shape[3] = Word(node, "col_length");
  const float scale = ReinterpretUint32tToFloat(static_cast<uint32_t>(Word(node, "output_scale")));
  t.quantization.push_back({scale, Word(node, "output_radix"), 2});
  return t;
}

// Header of a TZ100 view or a network input node of a TZ200 view: the same field names.
TensorView RawInput(const Json::Value& node, std::string format) {
  TensorView t;
  t.format = std::move(format);
  t.shape[0] = 1;
  t.shape[1] = Word(node, "input_channel");
  t.shape[2] = Word(node, "input_row");
  t.shape[3] = Word(node, "input_col");
  t.quantization.push_back({0, Word(node, "input_radix"), 0, false});
  t.entry = Word(node, "input_start");
  t.len = Word(node, "input_size");
  return t;
}

TensorView FbTensor(const Json::Value& tensor, bool is_input) {
  TensorView t;
  t.name = Text(tensor, "name");
  t.format = fmt::format("{}", Word(tensor, "format"));
  const Json::Value& shape = ArrayMember(tensor, "shape");
  for (Json::ArrayIndex i = 0; i < 4 && i < shape.size(); ++i) t.shape[i] = Word(shape[i]);
  const Json::Value& fxp = ArrayMember(Member(tensor, "quantization"), "fxp_info");
  for (Json::ArrayIndex j = 0; j < fxp.size(); ++j) {
    const double scale = Scale(fxp[j]);
    const int64_t radix = Word(fxp[j], "radix");
    t.quantization.push_back({scale, radix, is_input ? 3 : 2});
  }
  const Json::Value& buffer = Member(tensor, "buffer");
  // The view leaves out an entry equal to its default, 0xFFFFFFFF ("no entry").
  t.entry = buffer.isObject() && !buffer.isMember("entry") ? 0xFFFFFFFFll : Word(buffer, "entry");
  t.len = Word(buffer, "len");
  return t;
}

}  // namespace

float ReinterpretUint32tToFloat(uint32_t value) {
  float f = 0;
  std::memcpy(&f, &value, sizeof(f));
  return f;
}

void SetupTensors(const Json::Value& setup, SetupView view, std::vector<talvex::ReportTensor>& inputs,
                  std::vector<talvex::ReportTensor>& outputs) {
  inputs.clear();
  outputs.clear();
  if (view == SetupView::kTz100Raw) {
    inputs.push_back(RawInput(Member(setup, "header"), "default"));
  } else {
    const Json::Value& in = ArrayMember(setup, "inputs");
    for (Json::ArrayIndex i = 0; i < in.size(); ++i) {
      inputs.push_back(view == SetupView::kFlatbuffer ? FbTensor(in[i], true)
                                                      : RawInput(in[i], fmt::format("{}", Word(in[i], "input_format"))));
    }
  }
  const Json::Value& out = ArrayMember(setup, "outputs");
  for (Json::ArrayIndex i = 0; i < out.size(); ++i) {
    outputs.push_back(view == SetupView::kFlatbuffer ? FbTensor(out[i], false) : RawOutput(out[i]));
  }
}

std::string GetSetupBinInfo(const Json::Value& setup, SetupView view, int width) {
  if (setup.empty()) return BoxLine("", width);
  std::vector<talvex::ReportTensor> inputs;
  std::vector<talvex::ReportTensor> outputs;
  SetupTensors(setup, view, inputs, outputs);
  std::string out = BoxLine("Input node info:", width);
  for (size_t i = 0; i < inputs.size(); ++i) AppendTensor(out, i, inputs[i], width);
  out += BoxLine("Output node info:", width);
  for (size_t i = 0; i < outputs.size(); ++i) AppendTensor(out, i, outputs[i], width);
  return out;
}
