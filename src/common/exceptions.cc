#include "common/exceptions.h"

#include "common/logger.h"

template <>
const std::map<ErrorCode, std::string>& EnumStrMap<ErrorCode>() {
  static const std::map<ErrorCode, std::string> names = {
      {ErrorCode::Success, "Success"},
      {ErrorCode::Common, "Common"},
      {ErrorCode::InvalidProgramInput, "InvalidProgramInput"},
      {ErrorCode::InvalidONNXAttribute, "InvalidONNXAttribute"},
      {ErrorCode::HardwareNotSupport, "HardwareNotSupport"},
      {ErrorCode::UnexpectedGraph, "UnexpectedGraph"},
      {ErrorCode::UnimplementedFeature, "UnimplementedFeature"},
      {ErrorCode::ValueNotReady, "ValueNotReady"},
      {ErrorCode::VolmarError, "VolmarError"},
      {ErrorCode::UnexpectedValue, "UnexpectedValue"},
      {ErrorCode::Max, "Max"},
  };
  return names;
}

TalvexException::TalvexException(ErrorCode code, const std::string& msg) : err_code_(code) {
  msg_ = EnumStrMap<ErrorCode>().at(code) + ": " + msg;
  TALVEX_LOG_ERROR(LogCateg::Common, "{}", msg_);
}

int HandleTalvexException(TalvexException& e) { return static_cast<int>(e.code()); }
