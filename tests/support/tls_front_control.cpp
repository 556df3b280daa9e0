#include "tls_front_control.h"

#include <windows.h>

#include "test_support.h"

#ifndef LUMORA_TLS_CONTROL_DIR
#error "LUMORA_TLS_CONTROL_DIR is set by the build (the front's control folder)"
#endif

namespace testing_support {

namespace {

// The control folder as Wine sees it: the Linux root is drive Z:.
std::string ControlFile(const std::string& name) {
  std::string path = std::string("Z:") + LUMORA_TLS_CONTROL_DIR + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

const char* Name(ServerCertificate certificate) {
  switch (certificate) {
    case ServerCertificate::Expired:
      return "expired";
    case ServerCertificate::WrongHost:
      return "wronghost";
    case ServerCertificate::Untrusted:
      return "untrusted";
    case ServerCertificate::Good:
      break;
  }
  return "localhost";
}

}  // namespace

TlsFront::~TlsFront() {
  if (!changed_) return;
  for (uint16_t port : {kTlsConfigPort, kTlsStatisticsPort})
    DeleteFileA(ControlFile(std::to_string(port)).c_str());
}

bool TlsFront::Running() {
  return GetFileAttributesA(ControlFile("pid").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool TlsFront::Present(uint16_t port, ServerCertificate certificate) {
  changed_ = true;
  return WriteFileBytes(ControlFile(std::to_string(port)), std::string(Name(certificate)) + "\n");
}

std::string TlsFront::Log() {
  std::string bytes;
  ReadFileBytes(ControlFile("front.log"), bytes);
  return bytes;
}

size_t TlsFront::Accepted(const std::string& logPart, uint16_t port) {
  // "<time> <port> <certificate>: TLSv1.2 accepted"
  const std::string portField = " " + std::to_string(port) + " ";
  size_t count = 0, at = 0;
  while (at < logPart.size()) {
    size_t end = logPart.find('\n', at);
    if (end == std::string::npos) end = logPart.size();
    const std::string line = logPart.substr(at, end - at);
    if (line.find(portField) != std::string::npos && line.find(" accepted") != std::string::npos)
      ++count;
    at = end + 1;
  }
  return count;
}

std::string TlsFront::Url(uint16_t port, const std::string& pathAndQuery) {
  return "https://localhost:" + std::to_string(port) + pathAndQuery;
}

}  // namespace testing_support
