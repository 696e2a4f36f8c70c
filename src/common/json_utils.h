#pragma once
#include <istream>
#include <string>

#include <json/json.h>

// Parse failures give a null value; callers test for null.
Json::Value Istream2Json(std::istream& is);
Json::Value LoadJson(const std::string& path);
Json::Value Str2Json(const std::string& str);
// 0 when written, -1 when the file cannot be opened.
int SaveJson(const std::string& path, const Json::Value& json, bool compact);
std::string Json2Str(const Json::Value& val);
