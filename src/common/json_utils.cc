#include "common/json_utils.h"

#include <fstream>
#include <sstream>

#include "common/file_io.h"

Json::Value Istream2Json(std::istream& is) {
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errs;
  if (!Json::parseFromStream(builder, is, &root, &errs)) return Json::Value();
  return root;
}

Json::Value LoadJson(const std::string& path) {
  if (path.empty()) return Json::Value();
  std::ifstream in(path);
  if (!in) return Json::Value();
  return Istream2Json(in);
}

Json::Value Str2Json(const std::string& str) {
  std::istringstream in(str);
  return Istream2Json(in);
}

std::string Json2Str(const Json::Value& val) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, val);
}
