// The JSON rules: whatever the reader accepts is written so that it reads
// back equal (the engine re-writes every call it queues), and the typed
// member reads agree with the value's type. \u escapes of non-ASCII
// characters become code page 936 text once: resolving them again changes
// nothing, and a text without them is read as it is.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_check.h"
#include "json_unicode.h"
#include "json_util.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string resolved = rt::ResolveUnicodeEscapes(text, rt::Cp936FromCodePoint);
  FUZZ_CHECK(rt::ResolveUnicodeEscapes(resolved, rt::Cp936FromCodePoint) == resolved,
             fuzz::Shown(text) + "\n  resolved: " + fuzz::Shown(resolved));
  if (!rt::MayHoldUnicodeEscapes(text)) FUZZ_CHECK(resolved == text, fuzz::Shown(text));
  Json::Value value;
  if (!rt::ParseJson(text, value)) return 0;
  const std::string shown = fuzz::Shown(text);

  // A text without \u escapes that the library reads as it stands reads the
  // same: only texts it refuses are tried again.
  if (!rt::MayHoldUnicodeEscapes(text)) {
    Json::Reader plain;
    Json::Value asItStands;
    bool read = false;
    try {
      read = plain.parse(text, asItStands, false);
    } catch (const std::exception&) {
    }
    if (read) FUZZ_CHECK(asItStands == value, shown);
  }

  const std::string written = rt::StyledText(value);
  Json::Value again;
  FUZZ_CHECK(rt::ParseJson(written, again), shown + "\n  written: " + fuzz::Shown(written));
  FUZZ_CHECK(again == value, shown + "\n  written: " + fuzz::Shown(written));
  FUZZ_CHECK(rt::StyledText(again) == written, shown);

  if (value.isObject()) {
    for (const std::string& name : value.getMemberNames()) {
      const Json::Value& member = value[name];
      int32_t n = 0;
      if (rt::ReadInt(value, name.c_str(), n) && name.find('\0') == std::string::npos)
        FUZZ_CHECK(rt::IsInt32(member) && member.asInt64() == n, shown);
      bool b = false;
      if (rt::ReadBool(value, name.c_str(), b) && name.find('\0') == std::string::npos)
        FUZZ_CHECK(member.isBool() && member.asBool() == b, shown);
    }
  }
  FUZZ_CHECK(rt::IsObjectOrNull(value) == (value.isNull() || value.isObject()), shown);
  return 0;
}
