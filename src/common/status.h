#pragma once
// The one way a library below the front end reports a failure: a Status carrying the exit
// code and the messages that say why, in order. Libraries never print; the front end reports
// a Status once, through talvex::Report (common/logger.h), right where the call returns, so
// messages keep their place among the lines of the reports.
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "common/log_categ.h"

namespace talvex {

// Where a message goes when it is reported: a plain line on standard error, a plain line on
// standard output, a log line (level and category) through the logger, or a log line showing
// key material (SpdLogKey: debug, only when asked for).
enum class Sink : int { kStderr, kStdout, kLog, kKeyLog };

struct Message {
  Sink sink = Sink::kStderr;
  LogCateg categ = LogCateg::Common;
  int level = kError;
  std::string text;  // without line end; a log text carries its call-site prefix already
};

class [[nodiscard]] Status {
 public:
  Status() = default;  // success, no message
  explicit Status(int code) : code_(code) {}

  // A failure with one plain line for standard error.
  static Status Error(std::string line, int code = -1) { return Status(code).Err(std::move(line)); }

  bool ok() const { return code_ == 0; }
  int code() const { return code_; }
  const std::vector<Message>& messages() const { return messages_; }
  // Its plain lines for standard error, joined by "; ": why a check or a decoder refused, for a
  // caller that words its own message around the reason.
  std::string Reason() const {
    std::string out;
    for (const Message& m : messages_) {
      if (m.sink == Sink::kStderr) out += (out.empty() ? "" : "; ") + m.text;
    }
    return out;
  }

  // Adds a message (the code stays): plain line on standard error / output, or a log line.
  Status& Err(std::string line) { return Add({Sink::kStderr, LogCateg::Common, kError, std::move(line)}); }
  Status& Out(std::string line) { return Add({Sink::kStdout, LogCateg::Common, kError, std::move(line)}); }
  Status& Log(LogCateg categ, int level, std::string text) {
    return Add({Sink::kLog, categ, level, std::move(text)});
  }
  Status& KeyLog(LogCateg categ, std::string text) { return Add({Sink::kKeyLog, categ, kDebug, std::move(text)}); }
  Status& Add(Message m) {
    messages_.push_back(std::move(m));
    return *this;
  }
  // Appends other's messages; a failed other makes this one fail with its code.
  Status& Merge(Status other) {
    for (Message& m : other.messages_) messages_.push_back(std::move(m));
    if (!other.ok()) code_ = other.code_;
    return *this;
  }
  // Appends other's messages only, keeping this code: a failure that does not stop the step.
  Status& Note(Status other) {
    for (Message& m : other.messages_) messages_.push_back(std::move(m));
    return *this;
  }
  Status& SetCode(int code) {
    code_ = code;
    return *this;
  }

 private:
  int code_ = 0;
  std::vector<Message> messages_;
};

// "[file:line][function] " with the file's base name: the program's failure prefix.
std::string FailPrefix(const char* file, int line, const char* func);

}  // namespace talvex

// A failed Status (-1) with one log line at error level, prefixed with its call site.
#define TALVEX_STATUS_ERROR(categ, ...)                                                       \
  talvex::Status(-1).Log((categ), kError,                                                        \
                         talvex::FailPrefix(__FILE__, __LINE__, __func__) + fmt::format(__VA_ARGS__))
// Adds one such log line to an existing Status (keeps its code).
#define TALVEX_STATUS_LOG(status, categ, level, ...) \
  (status).Log((categ), (level), talvex::FailPrefix(__FILE__, __LINE__, __func__) + fmt::format(__VA_ARGS__))
// Adds a line showing key material, prefixed likewise (see SpdLogKey).
#define TALVEX_STATUS_KEY_LOG(status, categ, ...) \
  (status).KeyLog((categ), talvex::FailPrefix(__FILE__, __LINE__, __func__) + fmt::format(__VA_ARGS__))
