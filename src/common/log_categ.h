#pragma once
#include <cstdint>

// Scoped: its names (Common, Setup, ...) would clash with ErrorCode and namespace Setup.
enum class LogCateg : int32_t {
  Common = 0,
  Sorvin = 1,
  Graph = 2,
  FmCut = 3,
  Tiling = 4,
  Mmu = 5,
  Cmd = 6,
  Weight = 7,
  Setup = 8,
  Txm = 9,
  Evaluator = 10,
  Bie = 11,
  Tool = 12,
  LOG_CATEG_SIZE = 13,
};

// spdlog's level numbers.
enum LogLevel : int { kTrace = 0, kDebug = 1, kInfo = 2, kWarn = 3, kError = 4, kCritical = 5, kOff = 6 };
