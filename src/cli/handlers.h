#pragma once
#include "cli/cmd_args.h"
#include "common/status.h"

// One handler per mode. Each checks its options, runs the operation and prints what it made;
// it returns how the command ended: success, or the failure with the messages that say why
// (exit status -1 unless the Status names another), which the driver reports once. Notes of a
// step that went on are reported where they occur, among the handler's own lines.
talvex::Status ExtractBnx(const CmdArgs& args);
talvex::Status GenBnx(const CmdArgs& args);
talvex::Status BnxInfo(const CmdArgs& args);
talvex::Status ReadHeader(const CmdArgs& args);
talvex::Status ReadModelInfo(const CmdArgs& args);
talvex::Status GetCrc(const CmdArgs& args);
talvex::Status CombineBnx(const CmdArgs& args);
talvex::Status PostEnc(const CmdArgs& args);
talvex::Status TxmToJson(const CmdArgs& args);
talvex::Status SplitCore(const CmdArgs& args);
talvex::Status CheckAlignment(const CmdArgs& args);
talvex::Status UpdateModelInfo(const CmdArgs& args);
talvex::Status UpdateSolutionInfo(const CmdArgs& args);
talvex::Status VerifyBnx(const CmdArgs& args);
talvex::Status DiffBnx(const CmdArgs& args);
// The status --diff ends with when the two files differ, as diff(1) does.
constexpr int kDiffersStatus = 1;

// For a handler's steps: reports the notes of a step that succeeded and returns true; a failed
// step keeps its messages in st, with exit status -1, for the handler to return.
bool StepOk(talvex::Status& st);
