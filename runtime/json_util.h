// JSON conventions shared by every program: texts are written with the styled
// writer and read with the classic reader (comments allowed, not kept);
// members count only with their exact JSON type. Any value read here is
// written so that it reads back equal.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

namespace rt {

// Parses a JSON text with comments allowed (and dropped). The classic reader
// stops after the first complete value; trailing text is ignored. False when
// it does not parse.
bool ParseJson(const std::string& text, Json::Value& out);

// The call/record text form: the styled writer's layout.
std::string StyledText(const Json::Value& value);

// The object test: an object, or null (which reads as an empty object).
bool IsObjectOrNull(const Json::Value& value);

// A non-empty JSON object.
bool IsNonEmptyObject(const Json::Value& value);

// Reads member `key` of `obj` into `out` only when it is a signed JSON integer
// within the 32-bit range; anything else (unsigned, real, text, absent) counts
// as absent and leaves `out` unchanged.
bool ReadInt(const Json::Value& obj, const char* key, int32_t& out);
// Only JSON true/false.
bool ReadBool(const Json::Value& obj, const char* key, bool& out);
// Only JSON strings.
bool ReadString(const Json::Value& obj, const char* key, std::string& out);

// Convenience forms returning the default when the member does not count.
int32_t IntMember(const Json::Value& obj, const char* key, int32_t fallback = 0);
bool BoolMember(const Json::Value& obj, const char* key, bool fallback = false);
std::string StringMember(const Json::Value& obj, const char* key,
                         const std::string& fallback = std::string());

// Member `key` of `obj`; null when `obj` is not an object or has no such member.
const Json::Value* FindMember(const Json::Value& obj, const char* key);
// A copy of member `key`, or JSON null.
Json::Value MemberOrNull(const Json::Value& obj, const char* key);

// True when `value` itself is a signed integer in the 32-bit range.
bool IsInt32(const Json::Value& value);

}  // namespace rt
