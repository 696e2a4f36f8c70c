#pragma once
// Front-end helpers on TXM files, shared by the -j / -S handlers, extraction (-X),
// combining (-c), post-encryption (-E) and the TXM model report.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cmd_args.h"
#include "common/file_io.h"
#include "txm_generated.h"

// TXM::LoadTxmObj on one file; a file that does not parse ends the command: throws
// TalvexException (UnexpectedValue).
TalvexTXM::TXMContentT LoadTxmObj(const std::string& txm_path);

// One TXM file per model of the TXM file at txm_path (only model_id unless it is -1), in
// ascending model id, in folder: "01_<name>_model_<id>.txm", "02_...", or the bare "01_", "02_"
// ... when name is empty. Appends the canonical path of every file written. 0, or the failing
// operation's code. views, if given, also receives for every file written the text of its JSON
// view without payloads (TXM::GetDebugText after TXM::TrimBinary(txm, false, false)), taken from
// the model in memory: exactly the text that reading the file back would give, without reading
// and unpacking its payloads again.
int SplitTxmFile(const std::string& txm_path, const std::string& folder, const std::string& name, int32_t model_id,
                 std::vector<std::string>& output_files, std::vector<std::string>* views = nullptr);

// Writes buffer to <output folder>/<output_file_name>.bin, replacing it (atomically). A file
// that cannot be written is logged and left as it was.
void SaveCmdWtBuffer(const std::string& output_file_name, const std::vector<uint8_t>& buffer);
// The same for size bytes of the loaded file fb from offset on, copied file to file where fb
// is a mapped file (never through a copy in memory). A range outside fb is logged, nothing written.
void SaveCmdWtRange(const std::string& output_file_name, const talvex::FileBuffer& fb, uint64_t offset,
                    uint64_t size);
