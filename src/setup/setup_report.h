#pragma once
// Boxed summary of a setup's input and output tensors, built from its JSON view.
// Every line is "│" + content padded with blanks to `width` characters + "│\n".
#include <cstdint>
#include <string>

#include <json/json.h>

// From the RawToJson view of a TZ100 setup (the one input comes from its header).
std::string Get100SetupBinInfo(Json::Value setup, int width);
// From the RawToJson view of a TZ200 setup (inputs are its network input nodes).
std::string GetRawSetupBinInfo(Json::Value setup, int width);
// From the FBToJson view of a flatbuffer setup.
std::string GetFbsSetupBinInfo(Json::Value setup, int width);
// The float whose IEEE-754 single-precision bit pattern is value.
float ReinterpretUint32tToFloat(uint32_t value);
