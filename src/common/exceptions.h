#pragma once
#include <cstdint>
#include <exception>
#include <string>

#include "common/enum_str_map.h"
#include "common/status.h"

enum class ErrorCode : int32_t {
  Success = 0,
  Common = 1,
  InvalidProgramInput = 2,
  InvalidONNXAttribute = 3,
  HardwareNotSupport = 4,
  UnexpectedGraph = 5,
  UnimplementedFeature = 6,
  ValueNotReady = 7,
  VolmarError = 8,
  UnexpectedValue = 9,
  Max = 128,
};

template <>
const std::map<ErrorCode, std::string>& EnumStrMap<ErrorCode>();

// The program's one exception type, for conditions that stop the command. It carries its
// failure as a Status ("<code name>: <msg>" as one log line) and prints nothing itself: the
// front end reports it once where it is caught (talvex::Report(e.status())).
class TalvexException : public std::exception {
 public:
  TalvexException(ErrorCode code, const std::string& msg);
  // With the messages that report it spelled out (instead of the one default log line).
  TalvexException(ErrorCode code, const std::string& msg, talvex::Status status);
  ~TalvexException() override = default;
  const char* what() const noexcept override { return msg_.c_str(); }
  ErrorCode code() const { return err_code_; }
  // The message as given, without the code name what() starts with.
  const std::string& message() const { return message_; }
  const talvex::Status& status() const { return status_; }

 private:
  ErrorCode err_code_;
  std::string message_;
  std::string msg_;
  talvex::Status status_;
};

class InvalidProgramInput : public TalvexException {
 public:
  explicit InvalidProgramInput(const std::string& msg)
      : TalvexException(ErrorCode::InvalidProgramInput, msg) {}
};

// The exit status of a command that stopped with e (its error code).
int HandleTalvexException(const TalvexException& e);
