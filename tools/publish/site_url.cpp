#include "site_url.h"

#include <cctype>
#include <cstdlib>

namespace site {

std::string Url::Origin() const { return scheme + "://" + host + ":" + std::to_string(port); }

std::string Url::OriginFolder() const {
  std::string name = host;
  for (char& c : name)
    if (c == ':') c = '-';  // an IPv6 address
  return name + "_" + std::to_string(port);
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SafePath(const std::string& path, std::string& why) {
  if (path.empty() || path[0] != '/') {
    why = "the path does not start with /";
    return false;
  }
  size_t start = 1;
  while (start <= path.size()) {
    const size_t end = path.find('/', start);
    const std::string segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const bool last = end == std::string::npos;
    if ((segment.empty() && !last) || segment == "." || segment == "..") {
      why = "the path has an empty, \".\" or \"..\" part";
      return false;
    }
    if (last) break;
    start = end + 1;
  }
  for (unsigned char c : path) {
    if (c <= 0x20 || c == 0x7f || c == '%' || c == '\\' || c == '"' || c == '\'' || c == '{' ||
        c == '}' || c == ';' || c == '$' || c == '#') {
      why = "the path has a character the site layout does not take (blank, %, \\, quotes, {}, ;, $, #)";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseUrl(const std::string& text, Url& url, std::string& why) {
  url = Url();
  const size_t colon = text.find("://");
  if (colon == std::string::npos) {
    why = "not an address (no \"://\")";
    return false;
  }
  url.scheme = Lower(text.substr(0, colon));
  if (url.scheme != "http" && url.scheme != "https") {
    why = "not an http or https address";
    return false;
  }
  const size_t authorityStart = colon + 3;
  size_t authorityEnd = text.find_first_of("/?#", authorityStart);
  if (authorityEnd == std::string::npos) authorityEnd = text.size();
  const std::string authority = text.substr(authorityStart, authorityEnd - authorityStart);
  if (authority.find('@') != std::string::npos) {
    why = "the address has a user part";
    return false;
  }
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) {
      why = "an unclosed [ in the host";
      return false;
    }
    url.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') {
        why = "text after the host";
        return false;
      }
      portText = authority.substr(close + 2);
    }
  } else {
    const size_t portColon = authority.rfind(':');
    url.host = authority.substr(0, portColon);
    if (portColon != std::string::npos) portText = authority.substr(portColon + 1);
  }
  url.host = Lower(url.host);
  if (url.host.empty()) {
    why = "no host";
    return false;
  }
  for (unsigned char c : url.host) {
    if (!std::isalnum(c) && c != '.' && c != '-' && c != ':') {
      why = "the host has a character a host name does not";
      return false;
    }
  }
  if (portText.empty()) {
    url.port = url.Https() ? 443 : 80;
  } else {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) {
      why = "the port is not a number";
      return false;
    }
    url.port = std::atoi(portText.c_str());
    if (url.port < 1 || url.port > 65535) {
      why = "the port is out of range";
      return false;
    }
  }
  std::string rest = text.substr(authorityEnd);
  if (rest.find('#') != std::string::npos) {
    why = "the address has a fragment (#)";
    return false;
  }
  const size_t question = rest.find('?');
  if (question != std::string::npos) {
    url.query = rest.substr(question + 1);
    rest = rest.substr(0, question);
  }
  url.path = rest.empty() ? "/" : rest;
  return SafePath(url.path, why);
}

}  // namespace site
