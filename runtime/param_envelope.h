// The parameter envelope: "MD", an eight-digit check number and the payload in
// extended-hex base32. It protects JSON texts on command lines, in window
// messages and through scripts against mangling, and detects damage. It hides
// nothing.
#pragma once

#include <cstdint>
#include <string>

class ParamEnvelope {
 public:
  ParamEnvelope() = default;
  explicit ParamEnvelope(std::string payload);

  // The envelope text for the payload; empty for an empty payload.
  const std::string& Encode();

  // True when `text` is a valid envelope; the payload is then available.
  // On false the object is left unchanged. Accepts any byte string.
  bool Decode(const std::string& text);

  // The decoded payload, up to (not including) a first zero byte.
  const std::string& Payload() const { return payload_; }

  // Helpers for the common one-shot forms.
  static std::string Wrap(const std::string& payload);
  // The payload when `text` is an envelope, else `text` unchanged.
  static std::string Unwrap(const std::string& text);

  // The 26-bit check number over a body.
  static uint32_t CheckNumber(const std::string& body);

 private:
  std::string envelope_;
  std::string payload_;
  bool stale_ = false;
};
