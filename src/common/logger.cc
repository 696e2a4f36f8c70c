#include "common/logger.h"

#include <array>
#include <cstdio>
#include <iostream>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include <spdlog/cfg/env.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include "common/strings.h"

namespace {

constexpr int kCategCount = static_cast<int>(LogCateg::LOG_CATEG_SIZE);
std::array<std::shared_ptr<spdlog::logger>, kCategCount> loggers_;
// Whether SPDLOG_LEVEL asks for debug output of the category (key material is shown only then).
std::array<bool, kCategCount> key_lines_asked_{};

// Passes on only the lines below a level, so that one stream gets info and debug and the
// other the warnings and errors.
class BelowLevelSink : public spdlog::sinks::sink {
 public:
  BelowLevelSink(spdlog::sink_ptr inner, spdlog::level::level_enum limit) : inner_(std::move(inner)), limit_(limit) {}
  void log(const spdlog::details::log_msg& msg) override {
    if (msg.level < limit_) inner_->log(msg);
  }
  void flush() override { inner_->flush(); }
  void set_pattern(const std::string& pattern) override { inner_->set_pattern(pattern); }
  void set_formatter(std::unique_ptr<spdlog::formatter> formatter) override {
    inner_->set_formatter(std::move(formatter));
  }

 private:
  spdlog::sink_ptr inner_;
  spdlog::level::level_enum limit_;
};

// Colour only on a terminal (the sinks test that), and never when NO_COLOR is set.
spdlog::color_mode ConsoleColorMode() {
  const char* no_color = std::getenv("NO_COLOR");
  return no_color != nullptr && no_color[0] != '\0' ? spdlog::color_mode::never : spdlog::color_mode::automatic;
}

}  // namespace

template <>
const std::map<LogCateg, std::string>& EnumStrMap<LogCateg>() {
  static const std::map<LogCateg, std::string> names = {
      {LogCateg::Common, "common"}, {LogCateg::Sorvin, "sorvin"}, {LogCateg::Graph, "graph"},  {LogCateg::FmCut, "fmcut"},
      {LogCateg::Tiling, "tiling"}, {LogCateg::Mmu, "mmu"},       {LogCateg::Cmd, "cmd"},      {LogCateg::Weight, "wt"},
      {LogCateg::Setup, "fw"},      {LogCateg::Txm, "txm"},       {LogCateg::Evaluator, "eval"}, {LogCateg::Bie, "bie"},
      {LogCateg::Tool, "tool"},
  };
  return names;
}

void InitLoggers(unsigned int log_level, bool to_stdout, const std::string& log_file,
                 const std::string& format) {
  key_lines_asked_.fill(false);
  std::vector<spdlog::sink_ptr> sinks;
  if (to_stdout) {
    // Data and progress on standard output; warnings and failures on standard error.
    const spdlog::color_mode colour = ConsoleColorMode();
    sinks.push_back(std::make_shared<BelowLevelSink>(std::make_shared<spdlog::sinks::stdout_color_sink_mt>(colour),
                                                     spdlog::level::warn));
    auto err = std::make_shared<spdlog::sinks::stderr_color_sink_mt>(colour);
    err->set_level(spdlog::level::warn);
    sinks.push_back(err);
  }
  if (!log_file.empty()) {
    sinks.push_back(std::make_shared<spdlog::sinks::basic_file_sink_mt>(log_file, true));
  }
  if (sinks.empty()) return;

  for (int c = 0; c < kCategCount; ++c) {
    auto categ = static_cast<LogCateg>(c);
    auto logger = std::make_shared<spdlog::logger>(EnumStrMap<LogCateg>().at(categ), sinks.begin(),
                                                   sinks.end());
    logger->set_level(static_cast<spdlog::level::level_enum>(log_level));
    logger->set_formatter(
        std::make_unique<spdlog::pattern_formatter>(format, spdlog::pattern_time_type::local, "\n"));
    logger->flush_on(spdlog::level::trace);
    spdlog::register_logger(logger);
    loggers_[c] = logger;
  }

  if (GetEnv("SPDLOG_LEVEL").empty()) return;
  // First what the variable alone gives each logger (a logger it does not name stays off),
  // then the variable over the configured level.
  for (const auto& logger : loggers_) logger->set_level(spdlog::level::off);
  spdlog::cfg::load_env_levels();
  for (int c = 0; c < kCategCount; ++c) key_lines_asked_[c] = loggers_[c]->level() <= spdlog::level::debug;
  for (const auto& logger : loggers_) logger->set_level(static_cast<spdlog::level::level_enum>(log_level));
  spdlog::cfg::load_env_levels();
}

void SpdLog(LogCateg categ, int level, const std::string& msg) {
  const int c = static_cast<int>(categ);
  if (c < 0 || c >= kCategCount) return;
  const auto& logger = loggers_[c];
  // spdlog indexes its level names with the level: anything outside trace..critical is dropped.
  if (!logger || level < kTrace || level > kCritical) return;
  logger->log(static_cast<spdlog::level::level_enum>(level), "{}", msg);
}

void SpdLogKey(LogCateg categ, const std::string& msg) {
  const int c = static_cast<int>(categ);
  if (c >= 0 && c < kCategCount && key_lines_asked_[c]) SpdLog(categ, kDebug, msg);
}

void SetLogLevel(LogCateg categ, unsigned int log_level) {
  const int c = static_cast<int>(categ);
  if (c < 0 || c >= kCategCount || !loggers_[c]) return;
  loggers_[c]->set_level(static_cast<spdlog::level::level_enum>(log_level));
}

std::string GetEnv(const std::string& key) {
  const char* v = std::getenv(key.c_str());
  return v ? std::string(v) : std::string();
}

namespace talvex {
int Report(const Status& status) {
  for (const Message& m : status.messages()) {
    switch (m.sink) {
      case Sink::kStderr: std::cerr << m.text << std::endl; break;
      case Sink::kStdout: std::cout << m.text << std::endl; break;
      case Sink::kLog: SpdLog(m.categ, m.level, m.text); break;
      case Sink::kKeyLog: SpdLogKey(m.categ, m.text); break;
    }
  }
  return status.code();
}

std::string FailPrefix(const char* file, int line, const char* func) {
  return fmt::format("[{}:{}][{}] ", Basename(file), line, func);
}
}  // namespace talvex
