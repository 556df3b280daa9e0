#include "json_util.h"

#include <exception>
#include <limits>

#include "json_unicode.h"

// The classic reader and the styled writer are what peers and stored records
// are written with; the library marks them deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace rt {

namespace {

// The reader throws rather than failing on some input (nesting deeper than
// its stack limit); texts from outside must never end the program.
// Comments are allowed but not kept: the styled writer puts a kept comment
// where it can swallow what follows ({"a":1// x<newline>,"b":2} came out as
// text that no longer parsed), and every text read here may be written again.
bool ReadJson(const std::string& text, Json::Value& out) {
  Json::Reader reader;
  Json::Value value;
  try {
    if (!reader.parse(text, value, /*collectComments=*/false)) return false;
  } catch (const std::exception&) {
    return false;
  }
  out.swap(value);
  return true;
}

}  // namespace

bool ParseJson(const std::string& text, Json::Value& out) {
  // \u escapes of non-ASCII characters are read as code page 936 text, as
  // if the character had been sent raw; other texts are read as they are.
  if (ReadJson(MayHoldUnicodeEscapes(text) ? ResolveUnicodeEscapes(text, Cp936FromCodePoint)
                                           : text,
               out)) {
    return true;
  }
  // A text that does not read may come from a writer that did not escape the
  // second byte 0x5C of a double-byte character: tried once more with those
  // bytes escaped.
  if (!HasSecondByteBackslash(text)) return false;
  return ReadJson(ResolveUnicodeEscapes(EscapeSecondByteBackslashes(text), Cp936FromCodePoint),
                  out);
}

std::string StyledText(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

bool IsObjectOrNull(const Json::Value& value) {
  return value.isNull() || value.isObject();
}

bool IsNonEmptyObject(const Json::Value& value) {
  return value.isObject() && !value.empty();
}

bool IsInt32(const Json::Value& value) {
  if (value.type() != Json::intValue) return false;
  const Json::Int64 v = value.asInt64();
  return v >= std::numeric_limits<int32_t>::min() &&
         v <= std::numeric_limits<int32_t>::max();
}

const Json::Value* FindMember(const Json::Value& obj, const char* key) {
  if (!obj.isObject()) return nullptr;
  return obj.find(key, key + std::char_traits<char>::length(key));
}

Json::Value MemberOrNull(const Json::Value& obj, const char* key) {
  const Json::Value* member = FindMember(obj, key);
  return member ? *member : Json::Value();
}

bool ReadInt(const Json::Value& obj, const char* key, int32_t& out) {
  const Json::Value* v = FindMember(obj, key);
  if (!v || !IsInt32(*v)) return false;
  out = static_cast<int32_t>(v->asInt64());
  return true;
}

bool ReadBool(const Json::Value& obj, const char* key, bool& out) {
  const Json::Value* v = FindMember(obj, key);
  if (!v || v->type() != Json::booleanValue) return false;
  out = v->asBool();
  return true;
}

bool ReadString(const Json::Value& obj, const char* key, std::string& out) {
  const Json::Value* v = FindMember(obj, key);
  if (!v || v->type() != Json::stringValue) return false;
  out = v->asString();
  return true;
}

int32_t IntMember(const Json::Value& obj, const char* key, int32_t fallback) {
  ReadInt(obj, key, fallback);
  return fallback;
}

bool BoolMember(const Json::Value& obj, const char* key, bool fallback) {
  ReadBool(obj, key, fallback);
  return fallback;
}

std::string StringMember(const Json::Value& obj, const char* key,
                         const std::string& fallback) {
  std::string out = fallback;
  ReadString(obj, key, out);
  return out;
}

}  // namespace rt
