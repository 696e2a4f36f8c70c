#include "cli/handlers.h"

#include "common/logger.h"

const std::map<CmdArgs::CMDMode, ModeHandler> FunctionMap = {
    {CmdArgs::ExtractBnx, ExtractBnx},
    {CmdArgs::GenBnx, GenBnx},
    {CmdArgs::BnxInfo, BnxInfo},
    {CmdArgs::ReadHeader, ReadHeader},
    {CmdArgs::ReadModelInfo, ReadModelInfo},
    {CmdArgs::GetCrc, GetCrc},
    {CmdArgs::CombineBnx, CombineBnx},
    {CmdArgs::PostEnc, PostEnc},
    {CmdArgs::TxmToJson, TxmToJson},
    {CmdArgs::SplitCore, SplitCore},
    {CmdArgs::CheckAlignment, CheckAlignment},
    {CmdArgs::UpdateModelInfo, UpdateModelInfo},
    {CmdArgs::UpdateSolutionInfo, UpdateSolutionInfo},
    {CmdArgs::VerifyBnx, VerifyBnx},
    {CmdArgs::DiffBnx, DiffBnx},
};

bool StepOk(talvex::Status& st) {
  if (!st.ok()) {
    st.SetCode(-1);
    return false;
  }
  talvex::Report(st);
  return true;
}
