// The JSON rules: whatever the reader accepts is written so that it reads
// back equal (the engine re-writes every call it queues), and the typed
// member reads agree with the value's type.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "json_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Json::Value value;
  if (!rt::ParseJson(text, value)) return 0;
  const std::string shown = fuzz::Shown(text);

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
