#include "trust_text.h"

#include <cstring>
#include <vector>

namespace trust {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Only spaces: the download service hands a header's control characters (a
// tab included) on as '?', so a tab could never arrive as one.
bool IsBlank(char c) { return c == ' '; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Reads one DER INTEGER at `at` into a 32-byte big-endian field.
bool ReadDerInteger(const std::string& der, size_t& at, uint8_t* out) {
  if (at + 2 > der.size() || static_cast<uint8_t>(der[at]) != 0x02) return false;
  const size_t length = static_cast<uint8_t>(der[at + 1]);
  at += 2;
  // Short lengths only (an integer of a P-256 signature has at most 33 bytes).
  if (length == 0 || length > 33 || at + length > der.size()) return false;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(der.data()) + at;
  if (bytes[0] & 0x80) return false;  // negative
  // Minimal: a leading zero only when the next byte has its top bit set.
  if (length > 1 && bytes[0] == 0 && !(bytes[1] & 0x80)) return false;
  size_t skip = 0;
  if (length == 33) {
    if (bytes[0] != 0) return false;  // more than 32 bytes of value
    skip = 1;
  }
  const size_t value = length - skip;
  std::memset(out, 0, 32);
  std::memcpy(out + (32 - value), bytes + skip, value);
  at += length;
  return true;
}

void AppendDerInteger(std::string& der, const uint8_t* value) {
  size_t first = 0;
  while (first < 31 && value[first] == 0) ++first;
  std::string bytes;
  if (value[first] & 0x80) bytes.push_back('\0');
  bytes.append(reinterpret_cast<const char*>(value) + first, 32 - first);
  der.push_back('\x02');
  der.push_back(static_cast<char>(bytes.size()));
  der += bytes;
}

}  // namespace

bool DecodeBase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int padding = 0;
    for (int j = 0; j < 4; ++j) {
      const char c = text[i + j];
      if (c == '=') {
        // Padding only at the end of the last group, one or two characters.
        if (!last || j < 2) return false;
        ++padding;
        v[j] = 0;
        continue;
      }
      if (padding > 0) return false;  // a character after '='
      v[j] = Base64Value(c);
      if (v[j] < 0) return false;
    }
    const uint32_t group = (static_cast<uint32_t>(v[0]) << 18) | (static_cast<uint32_t>(v[1]) << 12) |
                           (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
    // The bits below the last whole byte must be zero (one encoding per input).
    if (padding == 2 && (group & 0xFFFF) != 0) return false;
    if (padding == 1 && (group & 0xFF) != 0) return false;
    bytes.push_back(static_cast<char>(group >> 16));
    if (padding < 2) bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
    if (padding < 1) bytes.push_back(static_cast<char>(group & 0xFF));
  }
  return true;
}

std::string EncodeBase64(const std::string& bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
    if (n > 1) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    if (n > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(n > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back(n > 2 ? kAlphabet[group & 63] : '=');
  }
  return text;
}

bool DerToRaw(const std::string& der, RawSignature& raw) {
  // SEQUENCE with a short length covering exactly the rest.
  if (der.size() < 8 || static_cast<uint8_t>(der[0]) != 0x30) return false;
  const size_t length = static_cast<uint8_t>(der[1]);
  if (length >= 0x80 || length + 2 != der.size()) return false;
  size_t at = 2;
  RawSignature out{};
  if (!ReadDerInteger(der, at, out.data()) || !ReadDerInteger(der, at, out.data() + 32))
    return false;
  if (at != der.size()) return false;
  raw = out;
  return true;
}

std::string RawToDer(const RawSignature& raw) {
  std::string body;
  AppendDerInteger(body, raw.data());
  AppendDerInteger(body, raw.data() + 32);
  std::string der;
  der.push_back('\x30');
  der.push_back(static_cast<char>(body.size()));
  return der + body;
}

bool SignatureBytes(const std::string& bytes, RawSignature& raw) {
  if (DerToRaw(bytes, raw)) return true;
  if (bytes.size() != raw.size()) return false;
  std::memcpy(raw.data(), bytes.data(), raw.size());
  return true;
}

bool ParseHex(const std::string& text, uint8_t* out, size_t size) {
  if (text.size() != size * 2) return false;
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  if (size > 0) std::memcpy(out, bytes.data(), size);
  return true;
}

std::string HexText(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

bool ParseDigest(const std::string& text, Digest& digest) {
  return ParseHex(text, digest.data(), digest.size());
}

std::string DigestText(const Digest& digest) { return HexText(digest.data(), digest.size()); }

HeaderError ParseSignatureHeader(const std::string& text, SignatureHeader& header) {
  if (Trim(text).empty()) return HeaderError::Missing;
  if (text.size() > kMaxSignatureText) return HeaderError::Malformed;
  bool haveKey = false, haveSignature = false;
  SignatureHeader out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(';', start);
    const std::string part = Trim(text.substr(start, end == std::string::npos ? end : end - start));
    if (part.size() < 2 || part[1] != '=') return HeaderError::Malformed;
    const std::string value = part.substr(2);
    if (part[0] == 'k') {
      if (haveKey || !ParseHex(value, out.keyId.data(), out.keyId.size()))
        return HeaderError::Malformed;
      haveKey = true;
    } else if (part[0] == 's') {
      std::string bytes;
      if (haveSignature || !DecodeBase64(value, bytes) || !SignatureBytes(bytes, out.signature))
        return HeaderError::Malformed;
      haveSignature = true;
    } else {
      return HeaderError::Malformed;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!haveKey || !haveSignature) return HeaderError::Malformed;
  header = out;
  return HeaderError::None;
}

std::string SignatureHeaderText(const KeyId& keyId, const RawSignature& signature) {
  return "k=" + HexText(keyId.data(), keyId.size()) + "; s=" + EncodeBase64(RawToDer(signature));
}

}  // namespace trust
