#include "url_parts.h"

namespace download {

namespace {

bool NeedsEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7f) return true;
  switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= text.size() || LowerAscii(text[i]) != prefix[i]) return false;
  }
  return true;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

std::string EscapeUrlBytes(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (char ch : url) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0f];
    } else {
      out += ch;
    }
  }
  return out;
}

bool SplitUrl(const std::string& url, UrlParts& parts) {
  for (char c : url) {
    if (NeedsEscape(static_cast<unsigned char>(c))) return false;
  }
  size_t at = 0;
  if (StartsWithNoCase(url, "https://")) {
    parts.secure = true;
    at = 8;
  } else if (StartsWithNoCase(url, "http://")) {
    parts.secure = false;
    at = 7;
  } else {
    return false;
  }
  std::string rest = url.substr(at);
  const size_t fragment = rest.find('#');
  if (fragment != std::string::npos) rest.erase(fragment);

  const size_t authorityEnd = rest.find_first_of("/?");
  const std::string authority = rest.substr(0, authorityEnd);
  std::string object = authorityEnd == std::string::npos ? "" : rest.substr(authorityEnd);
  if (object.empty() || object[0] != '/') object.insert(0, "/");
  if (authority.find('@') != std::string::npos) return false;

  std::string host;
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return false;
      port = after.substr(1);
      if (port.empty()) return false;
    }
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return false;
    }
  }
  if (host.empty()) return false;
  parts.port = parts.secure ? 443 : 80;
  if (!port.empty() && !ParsePort(port, parts.port)) return false;
  parts.host = Widen(host);
  parts.object = Widen(object);
  return true;
}

}  // namespace download
