// The addresses of an operator's site as the publishing tool lays them out
// and checks them: scheme, host, port and path of an http(s) address.
#pragma once

#include <string>

namespace site {

struct Url {
  std::string scheme;  // "http" or "https", lower case
  std::string host;    // lower case, without brackets
  int port = 0;        // given or the scheme's default
  std::string path;    // from the first "/", without the query; "/" when empty
  std::string query;   // after "?", without it
  bool Https() const { return scheme == "https"; }
  // "https://host:port" (the port always written).
  std::string Origin() const;
  // "host_port": the site folder of this origin.
  std::string OriginFolder() const;
};

// Parses an http or https address; false (with `why`) for anything else, a
// user part, a fragment, or a path that a file layout cannot mirror safely
// ("..", ".", empty segments, "%", "\", control characters, blanks).
bool ParseUrl(const std::string& text, Url& url, std::string& why);

}  // namespace site
