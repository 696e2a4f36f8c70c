#pragma once
#include <cstdint>
#include <exception>
#include <string>

#include "common/enum_str_map.h"

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

// The program's one exception type; the constructor logs "<code name>: <msg>".
class TalvexException : public std::exception {
 public:
  TalvexException(ErrorCode code, const std::string& msg);
  ~TalvexException() override = default;
  const char* what() const noexcept override { return msg_.c_str(); }
  ErrorCode code() const { return err_code_; }

 private:
  ErrorCode err_code_;
  std::string msg_;
};

class InvalidProgramInput : public TalvexException {
 public:
  explicit InvalidProgramInput(const std::string& msg)
      : TalvexException(ErrorCode::InvalidProgramInput, msg) {}
};

int HandleTalvexException(TalvexException& e);
