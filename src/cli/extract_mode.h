#pragma once
// Extraction of BNX containers (-X), shared by the information report (-I -s), combining (-c)
// and post-encryption (-E). Each container is opened once (BNXUtils::BnxFile) and that one
// object goes down every step.
#include <string>
#include <vector>

#include "bnx/bnx_file.h"
#include "bnx/verify.h"
#include "cli/cmd_args.h"

// Opens every container that args.model_path names (pieces split at blanks joined back, see
// BNXUtils::ResolveContainerPaths), in order. Nothing is reported yet.
std::vector<BNXUtils::BnxFile> OpenContainers(const CmdArgs& args);

// Extracts every opened container, in order; txm_files collects the per-model TXM files of
// schema major 2 payloads. keep: the per-model files stay for the run. Returns 0, or the
// status of the last step that failed (a failed container does not stop the later ones, but a
// failed per-model TXM split stops everything at once); -1 with a message when there is no
// container at all.
int ExtractBnxAll(const CmdArgs& args, std::vector<BNXUtils::BnxFile>& files, std::vector<std::string>& txm_files,
                  bool keep);

// Extracts one container; fw_info_out / all_models_out receive the absolute paths of its
// fw_info and all-models (or TXM) files, left empty when none was written; setups the paths
// of its per-model setup binaries. 0, or non-zero after a message.
int ExtractBnxUtils(BNXUtils::BnxFile& bnx, const std::string& prefix, bool keep, std::string& fw_info_out,
                    std::string& all_models_out, std::vector<std::string>* setups,
                    BNXUtils::Damaged damaged = BNXUtils::Damaged::kRefuse);

// The -X handler on containers already opened (also the tail of -I -s): the extraction, then,
// unless -l, the removal of the per-model files.
int ExtractOpened(const CmdArgs& args, std::vector<BNXUtils::BnxFile>& files);
