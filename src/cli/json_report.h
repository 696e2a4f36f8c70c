#pragma once
// The machine-readable (--json) forms of the container reports: one JSON document each, with
// field names that scripts may rely on.
#include <string>
#include <vector>

#include <json/json.h>

#include "bnx/bnx_file.h"
#include "bnx/verify.h"

// A header key as a typed value: numbers for crc, tv_number, uuid and schema_version_major,
// texts for the others; null for an unknown key or a target outside TZ100..TZ600.
Json::Value HeaderKeyJson(const BNXUtils::BnxFile& bnx, const std::string& key);
// Every header key (the -I order, plus schema_version_major).
Json::Value HeaderJson(const BNXUtils::BnxFile& bnx);
// The model description at position (0-based), or null when there is none.
Json::Value ModelJson(const BNXUtils::BnxFile& bnx, int position);
// {"kind": "txm" | "legacy" | "none", "size": bytes of all_models, "fw_info_size": bytes}.
Json::Value PayloadJson(const BNXUtils::BnxFile& bnx);
// {"files": [{"path": absolute path, "size": bytes, "crc32": CRC-32 of the whole file}]} of the
// files among paths that are there (a temporary removed again is not listed).
Json::Value WrittenFilesJson(const std::vector<std::string>& paths);
Json::Value VerifyJson(const std::string& path, const std::vector<BNXUtils::VerifyCheck>& checks);

// Standard output goes nowhere while it lives: the handler's text, and a child program's, would
// break the one JSON document that takes its place. Diagnostics stay on standard error.
class SilencedStdout {
 public:
  SilencedStdout();
  ~SilencedStdout();
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

 private:
  int saved_;
};

// The version every document carries as "format_version"; its JSON Schemas are installed under
// share/talvex-bnx-utils/schema/ (from schemas/json/).
constexpr int kJsonFormatVersion = 1;
// The document, with its format_version, on standard output, indented, with a final line end;
// valid UTF-8 whatever its strings hold (U+FFFD for each ill-formed piece).
void PrintJson(Json::Value doc);
