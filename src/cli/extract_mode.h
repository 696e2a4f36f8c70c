#pragma once
// Extraction of BNX containers (-X), shared by the information report (-I -s), combining (-c)
// and post-encryption (-E).
#include <string>
#include <vector>

#include "cli/cmd_args.h"

// The container paths of a mode argument that the command line split at single blanks.
// Pieces are joined back where that names an existing file: from each piece on, the longest
// run of pieces whose blank-joined text exists is one path (the whole argument first of all);
// a piece that starts no such run stays a path of its own.
std::vector<std::string> ResolveContainerPaths(const std::vector<std::string>& pieces);

// Extracts every container of args.model_path, in order; txm_files collects the per-model TXM
// files of schema major 2 payloads. keep: the per-model files stay for the run. Returns 0, or
// the status of the last step that failed (a failed container does not stop the later ones,
// but a failed per-model TXM split stops everything at once); -1 with a message when
// args.model_path names no container at all.
int ExtractBnxAll(const CmdArgs& args, std::vector<std::string>& txm_files, bool keep);

// Extracts one container; fw_info_out / all_models_out receive the absolute paths of its
// fw_info and all-models (or TXM) files, left empty when none was written; setups the paths
// of its per-model setup binaries. 0, or non-zero after a message.
int ExtractBnxUtils(const std::string& bnx, const std::string& prefix, bool keep, std::string& fw_info_out,
                    std::string& all_models_out, std::vector<std::string>* setups);

// word unchanged when it holds only characters the shell takes literally, else single-quoted
// (each "'" written as '\'').
std::string ShellQuote(const std::string& word);

// The command that turns one setup binary into JSON:
// dir + "talvex_setup_parser " + setup, then " -p" + target + " -j" for a raw setup.
// The program path and the setup path are quoted with ShellQuote.
std::string SetupParserCommand(const std::string& dir, const std::string& setup_path, bool raw,
                               const std::string& target);

// Runs a shell command through system(); its exit status (0 for success), or -1 when it did
// not run or ended by a signal.
int RunCommand(const std::string& command);
