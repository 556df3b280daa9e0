#include "package_check.h"

#include <windows.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "bcrypt_trust.h"
#include "json_util.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Refuses the package: the file goes, the line says why.
PackageCheck Refuse(const std::string& path, ScopedHandle& file, std::string line) {
  file.Close();
  DeleteFileA(path.c_str());
  PackageCheck check;
  check.verdict = PackageVerdict::Refused;
  check.logLine = std::move(line);
  return check;
}

}  // namespace

PackageExpectation ExpectedPackage(const Json::Value& entry) {
  PackageExpectation expected;
  if (const Json::Value* digest = rt::FindMember(entry, "sha256")) {
    expected.hasDigest = digest->isString() && trust::ParseDigest(digest->asString(), expected.digest);
    expected.malformed = !expected.hasDigest;
  }
  if (const Json::Value* size = rt::FindMember(entry, "size")) {
    if (size->type() == Json::intValue && size->asLargestInt() >= 0) {
      expected.hasSize = true;
      expected.size = size->asLargestInt();
    } else if (size->type() == Json::uintValue &&
               size->asLargestUInt() <= static_cast<Json::LargestUInt>(
                                            std::numeric_limits<int64_t>::max())) {
      expected.hasSize = true;
      expected.size = static_cast<int64_t>(size->asLargestUInt());
    } else {
      expected.malformed = true;
    }
  }
  return expected;
}

void CarryPackageExpectation(const Json::Value& entry, Json::Value& call) {
  for (const char* key : {"sha256", "size"})
    if (const Json::Value* value = rt::FindMember(entry, key)) call[key] = *value;
}

PackageCheck CheckDownloadedPackage(const std::string& path, const PackageExpectation& expected,
                                    bool digestRequired) {
  PackageCheck check;
  const bool anything = expected.hasDigest || expected.hasSize || expected.malformed;
  if (!anything && !digestRequired) return check;  // the design's behaviour
  ScopedHandle file;
  if (expected.malformed)
    return Refuse(path, file, Format("更新包校验信息格式错误,拒绝安装 文件:'%s'", path.c_str()));
  if (!expected.hasDigest && digestRequired)
    return Refuse(path, file, Format("更新包缺少sha256,拒绝安装 文件:'%s'", path.c_str()));

  // Shared for reading only, and held: no one writes the file from here on.
  file.Set(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return Refuse(path, file,
                  Format("更新包无法读取[错误:%lu],拒绝安装 文件:'%s'", error, path.c_str()));
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) {
    const DWORD error = GetLastError();
    return Refuse(path, file,
                  Format("更新包无法读取[错误:%lu],拒绝安装 文件:'%s'", error, path.c_str()));
  }
  if (expected.hasSize && size.QuadPart != expected.size)
    return Refuse(path, file,
                  Format("更新包校验失败 文件:'%s' 期望大小:%" PRId64 " 实际大小:%" PRId64,
                         path.c_str(), expected.size, static_cast<int64_t>(size.QuadPart)));
  if (!expected.hasDigest) {
    // A size alone (no keys): the size matched.
    check.verdict = PackageVerdict::Accepted;
    check.logLine = Format("更新包大小相符 文件:'%s' 大小:%" PRId64, path.c_str(),
                           static_cast<int64_t>(size.QuadPart));
    check.hold = std::move(file);
    return check;
  }
  trust::Digest actual{};
  int64_t read = 0;
  unsigned long error = 0;
  if (!trust::Sha256OfFile(file.Get(), actual, read, error))
    return Refuse(path, file,
                  Format("更新包无法校验[错误:%lu],拒绝安装 文件:'%s'", error, path.c_str()));
  if (actual != expected.digest)
    return Refuse(path, file,
                  Format("更新包校验失败 文件:'%s' 期望sha256:%s 实际sha256:%s", path.c_str(),
                         trust::DigestText(expected.digest).c_str(),
                         trust::DigestText(actual).c_str()));
  check.verdict = PackageVerdict::Accepted;
  check.logLine = Format("更新包校验通过 文件:'%s' sha256:%s 大小:%" PRId64, path.c_str(),
                         trust::DigestText(actual).c_str(), read);
  check.hold = std::move(file);
  return check;
}
