// The call that hands an event to the skin's scripts: "To_Lua" with the
// event's name and, when it has one, its data.
#pragma once

#include <json/value.h>

#include <string>

#include "json_util.h"

// {"op":"To_Lua","name":<name>[,"data":<data>]} as styled text; an event
// without data has no "data" member.
inline std::string LuaEventCall(const std::string& name, const Json::Value* data = nullptr) {
  Json::Value call(Json::objectValue);
  call["op"] = "To_Lua";
  call["name"] = name;
  if (data != nullptr) call["data"] = *data;
  return rt::StyledText(call);
}

inline std::string LuaEventCall(const std::string& name, const Json::Value& data) {
  return LuaEventCall(name, &data);
}
