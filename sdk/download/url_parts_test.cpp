#include "url_parts.h"

#include <gtest/gtest.h>

namespace download {
namespace {

TEST(EscapeUrlBytes, EscapesWhatARequestLineCannotCarry) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"http://h/a?b=c&d=%41", "http://h/a?b=c&d=%41"},  // kept, existing escapes too
      {"http://h/a b", "http://h/a%20b"},
      {"http://h/\xc8\xd5\xd6\xbe", "http://h/%C8%D5%D6%BE"},  // code page 936 bytes as they are
      {"http://h/\x9c\x5c", "http://h/%9C%5C"},  // 0x5c as a second byte is not a separator
      {"http://h/a\\b", "http://h/a%5Cb"},
      {"http://h/\"<>^`{|}", "http://h/%22%3C%3E%5E%60%7B%7C%7D"},
      {std::string("http://h/\t\r\n\x7f", 13), "http://h/%09%0D%0A%7F"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeUrlBytes(c.in), c.out) << c.in;
}

TEST(SplitUrl, AcceptsHttpAndHttpsAddresses) {
  const struct {
    std::string url;
    bool secure;
    std::wstring host;
    uint16_t port;
    std::wstring object;
  } cases[] = {
      {"http://127.0.0.1:18090/starterUpdate.do?v=1&did=x", false, L"127.0.0.1", 18090,
       L"/starterUpdate.do?v=1&did=x"},
      {"http://example.com", false, L"example.com", 80, L"/"},
      {"HTTPS://Example.com/a/b", true, L"Example.com", 443, L"/a/b"},
      {"https://h:8443", true, L"h", 8443, L"/"},
      {"http://h?x=1", false, L"h", 80, L"/?x=1"},
      {"http://h/p#frag", false, L"h", 80, L"/p"},
      {"http://[::1]:9090/s", false, L"::1", 9090, L"/s"},
      {"http://[fe80::1]/", false, L"fe80::1", 80, L"/"},
      {"http://h:65535/", false, L"h", 65535, L"/"},
  };
  for (const auto& c : cases) {
    UrlParts parts;
    ASSERT_TRUE(SplitUrl(c.url, parts)) << c.url;
    EXPECT_EQ(parts.secure, c.secure) << c.url;
    EXPECT_EQ(parts.host, c.host) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.object, c.object) << c.url;
  }
}

TEST(SplitUrl, RefusesWhatIsNotAnHttpAddress) {
  const char* cases[] = {
      "",
      "ftp://h/file",
      "http:/h/x",
      "h/x",
      "http://",
      "http:///path",
      "http://:80/",
      "http://h:/",
      "http://h:0/",
      "http://h:65536/",
      "http://h:8x/",
      "http://h:123456/",
      "http://user:pw@h/",
      "http://[::1/",
      "http://[::1]x/",
      "http://h/a b",        // not escaped
      "http://h/\xc8\xd5",  // not escaped
  };
  for (const char* url : cases) {
    UrlParts parts;
    EXPECT_FALSE(SplitUrl(url, parts)) << url;
  }
}

TEST(SplitUrl, TakesTheEscapedFormOfAChineseAddress) {
  UrlParts parts;
  ASSERT_TRUE(SplitUrl(EscapeUrlBytes("http://h/\x9c\x5c.exe?n=\xc8\xd5"), parts));
  EXPECT_EQ(parts.object, L"/%9C%5C.exe?n=%C8%D5");
}

}  // namespace
}  // namespace download
