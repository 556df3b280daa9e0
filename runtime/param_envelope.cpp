#include "param_envelope.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
const size_t kHeaderLength = 10;  // "MD" and eight digits

std::string EncodeBody(const std::string& payload) {
  std::string body;
  body.reserve((payload.size() + 1) * 8 / 5 + 1);
  uint32_t acc = 0;
  int bits = 0;
  auto feed = [&](unsigned char byte) {
    acc = (acc << 8) | byte;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      body.push_back(kAlphabet[(acc >> bits) & 0x1F]);
    }
    acc &= (1u << bits) - 1;
  };
  for (unsigned char c : payload) feed(c);
  feed(0);  // the terminator supplies the padding; a short tail group is dropped
  return body;
}

std::string DecodeBody(const char* body, size_t length) {
  std::string out;
  out.reserve(length * 5 / 8);
  uint16_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(body[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    int value = c - 48;
    if (value >= 10) value -= 7;
    acc = static_cast<uint16_t>((acc << 5) | (value & 0x1F));
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  // Readers treat the payload as zero-terminated text.
  size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return out;
}

}  // namespace

ParamEnvelope::ParamEnvelope(std::string payload)
    : payload_(std::move(payload)), stale_(!payload_.empty()) {}

uint32_t ParamEnvelope::CheckNumber(const std::string& body) {
  uint32_t h = 0;
  for (unsigned char c : body) h = h * 131u + c;
  return h & 0x3FFFFFFu;
}

const std::string& ParamEnvelope::Encode() {
  if (stale_) {
    stale_ = false;
    const std::string body = EncodeBody(payload_);
    char header[16];
    std::snprintf(header, sizeof header, "MD%08u", static_cast<unsigned>(CheckNumber(body)));
    envelope_ = header + body;
  }
  return envelope_;
}

bool ParamEnvelope::Decode(const std::string& text) {
  if (text.size() <= kHeaderLength || text[0] != 'M' || text[1] != 'D') return false;
  // The check digits are read the way atoi reads them: leading blanks and a
  // sign allowed, stopping at the first non-digit.
  char digits[9];
  text.copy(digits, 8, 2);
  digits[8] = '\0';
  const long check = std::strtol(digits, nullptr, 10);
  if (check == 0) return false;
  const std::string body = text.substr(kHeaderLength);
  if (static_cast<long>(CheckNumber(body)) != check) return false;
  payload_ = DecodeBody(body.data(), body.size());
  envelope_ = text;
  stale_ = false;
  return true;
}

std::string ParamEnvelope::Wrap(const std::string& payload) {
  ParamEnvelope envelope(payload);
  return envelope.Encode();
}

std::string ParamEnvelope::Unwrap(const std::string& text) {
  ParamEnvelope envelope;
  return envelope.Decode(text) ? envelope.Payload() : text;
}
