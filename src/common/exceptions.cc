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

TalvexException::TalvexException(ErrorCode code, const std::string& msg) : err_code_(code), message_(msg) {
  msg_ = EnumStrMap<ErrorCode>().at(code) + ": " + msg;
  status_ = TALVEX_STATUS_ERROR(LogCateg::Common, "{}", msg_);
}

TalvexException::TalvexException(ErrorCode code, const std::string& msg, talvex::Status status)
    : err_code_(code), message_(msg), msg_(EnumStrMap<ErrorCode>().at(code) + ": " + msg), status_(std::move(status)) {}

int HandleTalvexException(const TalvexException& e) { return static_cast<int>(e.code()); }
