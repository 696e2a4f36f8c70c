#pragma once
// The TXM model report printed when a model container is extracted: the memory summary,
// one framed block per model, and each core's command and weight bytes written to files.
#include <string>
#include <vector>

#include "txm/txm_report_records.h"

#include "common/report_text.h"

// Characters between the two vertical bars of a framed line.
constexpr int TXM_REPORT_WIDTH = talvex::kReportWidth;

// Prints the report of txm_path to standard output and writes, per core c of each model,
// "model_<id>_core_<c>_cmd_buffer.bin" and "..._weight_buffer.bin" into the output folder.
// 0; -1 with a message on standard error when the file cannot be read or verified, holds no
// model, or its memory summary or a model cannot be read (models already printed stay).
int GetTXMModelInfo(const std::string& txm_path);

// The memory summary: four lines and an empty line.
std::string GetMemoryInfoStr(const BNXUtils::ModelMemory& mm);
void PrintMemoryInfo(const BNXUtils::ModelMemory& mm);

// One model's framed block; index counts models from 0.
std::string GetModelsInfoStr(const BNXUtils::MODEL_INFO& info, int index);
void PrintModelsInfo(const BNXUtils::MODEL_INFO& info, int index);

// A model tensor as the report shows it (the first scale and radix only).
talvex::ReportTensor TxmReportTensor(const BNXUtils::TXM_TENSOR& t);

// Framed lines of the tensor, core and payload sections of a model block.
std::string GetNodeInfo(const std::vector<BNXUtils::TXM_TENSOR>& nodes);
std::string GetCoreInfo(const std::vector<BNXUtils::MODEL_CORES>& cores);
std::string GetCMDWTInfoStr(const BNXUtils::MODEL_INFO& info);
