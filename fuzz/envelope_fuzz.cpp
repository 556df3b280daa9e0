// The parameter envelope: any text decodes or is refused without harm, and
// decode(encode(x)) == x for every payload without a zero byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "param_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string shown = fuzz::Shown(text);

  ParamEnvelope envelope;
  if (envelope.Decode(text)) {
    const std::string payload = envelope.Payload();
    FUZZ_CHECK(payload.find('\0') == std::string::npos, shown);
    FUZZ_CHECK(ParamEnvelope::Unwrap(text) == payload, shown);
    if (!payload.empty()) {
      ParamEnvelope again;
      FUZZ_CHECK(again.Decode(ParamEnvelope::Wrap(payload)) && again.Payload() == payload, shown);
    }
  } else {
    FUZZ_CHECK(ParamEnvelope::Unwrap(text) == text, shown);
  }

  const std::string payload = text.substr(0, text.find('\0'));
  if (!payload.empty()) {
    const std::string wrapped = ParamEnvelope::Wrap(payload);
    ParamEnvelope decoded;
    FUZZ_CHECK(decoded.Decode(wrapped), shown);
    FUZZ_CHECK(decoded.Payload() == payload, shown);
    // The envelope's alphabet holds no quote and no blank.
    for (char c : wrapped)
      FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'V') || c == 'M' || c == 'D',
                 shown);
  }
  return 0;
}
