#pragma once
#include <istream>
#include <string>

#include <json/json.h>

// Parse failures give a null value; callers test for null.
Json::Value Istream2Json(std::istream& is);
Json::Value LoadJson(const std::string& path);
Json::Value Str2Json(const std::string& str);
std::string Json2Str(const Json::Value& val);
