#pragma once
// Text and JSON views of both setup.bin forms, and marking a setup's encryption.
// Every function takes the whole file in memory (bin, size) and never reads past it.
#include <cstddef>
#include <cstdint>
#include <string>

#include <json/json.h>

#include "common/format_ids.h"
#include "common/status.h"
#include "setup/setup_recognise.h"

namespace Setup {

// Magic of the flatbuffer form (INFContent.magic default, also the BNX magic).
constexpr uint32_t FB_SETUP_MAGIC = talvex::kContainerMagic;

// Appends the text view of a raw setup (header form chosen by is_100). 0 on success;
// -1 on an unknown node type or on data that ends
// inside the header or a node; the text of the complete parts stays in str.
talvex::Status RawToString(const uint8_t* bin, size_t size, std::string& str, bool is_100);
// {"header": {...}, "inputs": [network input nodes], "outputs": [output info nodes]},
// all values integers. A failure leaves json unchanged.
talvex::Status RawToJson(const uint8_t* bin, size_t size, Json::Value& json, bool is_100);

// Raw: enc_key_data_offset = 0xFFFF0000. Flatbuffer: the stored EncryptInfo.mode byte
// becomes EFuse when it is physically present (otherwise unchanged), result 0.
// Neither form: -1.
talvex::Status UpdateEncryptEFuse(uint8_t* bin, size_t size);
// Raw: enc_key_data_offset = size (where appended key data starts). Other buffers are
// left alone with result 0. A raw setup shorter than 12 bytes fails with -1.
talvex::Status UpdateEncryptCustomerKeyInRawSetup(uint8_t* bin, size_t size);

// JSON text of a flatbuffer setup, fields equal to their defaults left out. 0 or -1
// (raw setups refused); str is unchanged on failure.
talvex::Status FBToJsonString(const uint8_t* bin, size_t size, std::string& str);
// FBToJsonString parsed with jsoncpp; json unchanged on failure.
talvex::Status FBToJson(const uint8_t* bin, size_t size, Json::Value& json);

}  // namespace Setup
