#pragma once
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "common/enum_str_map.h"

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

template <>
const std::map<LogCateg, std::string>& EnumStrMap<LogCateg>();

void InitLoggers(unsigned int log_level, bool to_stdout, const std::string& log_file,
                 const std::string& format);
void SpdLog(LogCateg categ, int level, const std::string& msg);
void SetLogLevel(LogCateg categ, unsigned int log_level);
std::string LogLevelToStr(unsigned int level);
std::string GetLogLevelStr(char sep);
// Throws std::invalid_argument("Invalid log level [...]") for "off" or unknown names.
unsigned int StrToLogLevel(const std::string& str);
std::string GetEnv(const std::string& key);

namespace talvex {
// "[file:line][function] " with the file's base name: the program's failure prefix.
std::string FailPrefix(const char* file, int line, const char* func);
}  // namespace talvex

// Logs a failure message, prefixed with its call site.
#define TALVEX_LOG(categ, level, ...) \
  SpdLog((categ), (level), talvex::FailPrefix(__FILE__, __LINE__, __func__) + fmt::format(__VA_ARGS__))
#define TALVEX_LOG_ERROR(categ, ...) TALVEX_LOG(categ, kError, __VA_ARGS__)
