#pragma once
#include "cli/cmd_args.h"

// One handler per mode; each returns the process exit status.
int ExtractBnx(const CmdArgs& args);
int GenBnx(const CmdArgs& args);
int BnxInfo(const CmdArgs& args);
int ReadHeader(const CmdArgs& args);
int ReadModelInfo(const CmdArgs& args);
int GetCrc(const CmdArgs& args);
int CombineBnx(const CmdArgs& args);
int PostEnc(const CmdArgs& args);
int TxmToJson(const CmdArgs& args);
int SplitCore(const CmdArgs& args);
int CheckAlignment(const CmdArgs& args);
int UpdateModelInfo(const CmdArgs& args);
int UpdateSolutionInfo(const CmdArgs& args);
int VerifyBnx(const CmdArgs& args);
