#pragma once
// The model table report of a legacy container's fw_info.bin, printed by extraction with
// setup parsing (-X -s): the memory summary, then one box per model with its addresses and
// the summary of its setup binary.
#include <string>
#include <vector>

#include "common/status.h"

#include "common/report_text.h"
#include "setup/setup_report.h"

// Inner width of the model boxes.
constexpr int FW_INFO_REPORT_WIDTH = talvex::kReportWidth;

// The JSON view a legacy model's setup has (first generation: TZ100).
SetupView SetupViewOf(bool flatbuffer, bool first_generation);

// Builds the whole report into text. setup_paths[i] is the extracted setup binary of model i.
// Fails with text unchanged when fw_info.bin cannot be read or decoded, lists no model (a line
// for standard output), fewer setup paths than models are
// given or a setup binary cannot be read (one log line each). The conversion failures of the
// setup views are reported as they happen; such a model shows an empty summary.
talvex::Status GetAllFwInfoText(const std::string& fw_info_path, const std::vector<std::string>& setup_paths,
                                bool first_generation, std::string& text);

// Prints the report to standard output. -1 when fw_info.bin lists no model (said on standard
// output) or, with a logged message, for any other failure of
// GetAllFwInfoText (nothing of the report is printed then); else 0.
int ParseAllFwInfo(const std::string& fw_info_path, const std::vector<std::string>& setup_paths,
                   bool first_generation);
