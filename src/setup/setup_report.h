#pragma once
// Boxed summary of a setup's input and output tensors, built from its JSON view.
// Every line is "│" + content padded with blanks to `width` characters + "│\n".
#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>

#include "common/report_text.h"

// Which JSON view a setup has: RawToJson of a TZ100 setup (its one input comes from its header),
// RawToJson of a TZ200 setup (inputs are its network input nodes), or FBToJson of a flatbuffer
// setup.
enum class SetupView { kTz100Raw, kRaw, kFlatbuffer };

// The input and output tensors of a setup's JSON view (a malformed view gives what it holds).
void SetupTensors(const Json::Value& setup, SetupView view, std::vector<talvex::ReportTensor>& inputs,
                  std::vector<talvex::ReportTensor>& outputs);
// The boxed summary of those tensors; one empty line for an empty view.
std::string GetSetupBinInfo(const Json::Value& setup, SetupView view, int width);
// The float whose IEEE-754 single-precision bit pattern is value.
float ReinterpretUint32tToFloat(uint32_t value);
