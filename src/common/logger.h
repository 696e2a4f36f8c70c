#pragma once
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "common/enum_str_map.h"
#include "common/log_categ.h"
#include "common/status.h"

template <>
const std::map<LogCateg, std::string>& EnumStrMap<LogCateg>();

void InitLoggers(unsigned int log_level, bool to_stdout, const std::string& log_file,
                 const std::string& format);
void SpdLog(LogCateg categ, int level, const std::string& msg);
// A line showing key material (a key or key word, given or derived): debug level, and only when
// SPDLOG_LEVEL itself asks for debug output of the category, so the front end's default debug
// level never puts keys into a build log.
void SpdLogKey(LogCateg categ, const std::string& msg);
void SetLogLevel(LogCateg categ, unsigned int log_level);
std::string GetEnv(const std::string& key);

namespace talvex {
// Writes every message of status once, in order (plain lines to their stream, log lines
// through the category loggers), and returns status.code(). The front end's one way out
// for the failures the libraries report.
int Report(const Status& status);
}  // namespace talvex

// Logs a failure message, prefixed with its call site.
#define TALVEX_LOG(categ, level, ...) \
  SpdLog((categ), (level), talvex::FailPrefix(__FILE__, __LINE__, __func__) + fmt::format(__VA_ARGS__))
#define TALVEX_LOG_ERROR(categ, ...) TALVEX_LOG(categ, kError, __VA_ARGS__)
// Logs key material through SpdLogKey, prefixed with its call site.
#define TALVEX_LOG_KEY(categ, ...) \
  SpdLogKey((categ), talvex::FailPrefix(__FILE__, __LINE__, __func__) + fmt::format(__VA_ARGS__))
