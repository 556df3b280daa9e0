#include "publish_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace publish {

void Fail(const std::string& what) { throw Failure{what}; }

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return !in.bad();
}

std::string ReadWhole(const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, bytes)) Fail("cannot read " + path);
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode) {
  const std::string temporary = path + ".new";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) Fail("cannot write " + path);
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) Fail("cannot write " + path);
  chmod(temporary.c_str(), mode);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) Fail("cannot write " + path);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) return false;
  return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace publish

namespace site {

using publish::MakeFolders;

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && !MakeFolders(path.substr(0, slash))) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace site
