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

// Refuses the package: with keys the file goes; without, it is set aside
// beside its name (the design never deletes a package), or left where it is
// when it cannot be moved. The line says why.
PackageCheck Refuse(const std::string& path, ScopedHandle& file, bool remove, std::string line) {
  file.Close();
  if (remove) {
    DeleteFileA(path.c_str());
  } else if (MoveFileExA(path.c_str(), SetAsideName(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    line += Format(" 已另存为'%s'", SetAsideName(path).c_str());
  }
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
    expected.malformedDigest = !expected.hasDigest;
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
      expected.malformedSize = true;
    }
  }
  expected.malformed = expected.malformedDigest || expected.malformedSize;
  return expected;
}

void CarryPackageExpectation(const Json::Value& entry, Json::Value& call) {
  for (const char* key : {"sha256", "size"})
    if (const Json::Value* value = rt::FindMember(entry, key)) call[key] = *value;
}

std::string SetAsideName(const std::string& path) { return path + ".refused"; }

PackageCheck CheckDownloadedPackage(const std::string& path, const PackageExpectation& given,
                                    PackageRules rules, WrittenPackage* written) {
  PackageCheck check;
  const bool remove = rules != PackageRules::Design;
  const bool digestRequired = rules == PackageRules::KeysRequireDigest;
  ScopedHandle file;
  if (written != nullptr && written->hold) file = std::move(written->hold);
  PackageExpectation expected = given;
  std::string note;
  if (expected.malformed) {
    if (remove)
      return Refuse(path, file, remove,
                    Format("更新包校验信息格式错误,拒绝安装 文件:'%s'", path.c_str()));
    // Without keys a member the design never reads is not a reason to fail.
    note = Format("更新包校验信息格式错误,已忽略%s%s 文件:'%s'",
                  expected.malformedDigest ? " sha256" : "", expected.malformedSize ? " size" : "",
                  path.c_str());
    expected.malformed = expected.malformedDigest = expected.malformedSize = false;
  }
  const bool anything = expected.hasDigest || expected.hasSize;
  if (!anything && !digestRequired) {
    check.note = note;
    return check;  // the design's behaviour
  }
  if (!expected.hasDigest && digestRequired)
    return Refuse(path, file, remove, Format("更新包缺少sha256,拒绝安装 文件:'%s'", path.c_str()));

  // Taken while it was written: compared, not read again.
  if (file) {
    PackageCheck verdict;
    if (expected.hasSize && written->size != expected.size) {
      verdict = Refuse(path, file, remove,
                       Format("更新包校验失败 文件:'%s' 期望大小:%" PRId64 " 实际大小:%" PRId64,
                              path.c_str(), expected.size, written->size));
    } else if (expected.hasDigest && written->digest != expected.digest) {
      verdict = Refuse(path, file, remove,
                       Format("更新包校验失败 文件:'%s' 期望sha256:%s 实际sha256:%s", path.c_str(),
                              trust::DigestText(expected.digest).c_str(),
                              trust::DigestText(written->digest).c_str()));
    } else {
      verdict.verdict = PackageVerdict::Accepted;
      verdict.logLine =
          expected.hasDigest
              ? Format("更新包校验通过 文件:'%s' sha256:%s 大小:%" PRId64, path.c_str(),
                       trust::DigestText(written->digest).c_str(), written->size)
              : Format("更新包大小相符 文件:'%s' 大小:%" PRId64, path.c_str(), written->size);
      verdict.hold = std::move(file);
    }
    verdict.note = note;
    return verdict;
  }

  // Shared for reading only, and held: no one writes the file from here on.
  file.Set(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  PackageCheck verdict;
  LARGE_INTEGER size{};
  trust::Digest actual{};
  int64_t read = 0;
  unsigned long error = 0;
  if (!file || !GetFileSizeEx(file.Get(), &size)) {
    error = GetLastError();
    verdict = Refuse(path, file, remove,
                     Format("更新包无法读取[错误:%lu],拒绝安装 文件:'%s'", error, path.c_str()));
  } else if (expected.hasSize && size.QuadPart != expected.size) {
    verdict = Refuse(path, file, remove,
                     Format("更新包校验失败 文件:'%s' 期望大小:%" PRId64 " 实际大小:%" PRId64,
                            path.c_str(), expected.size, static_cast<int64_t>(size.QuadPart)));
  } else if (!expected.hasDigest) {
    // A size alone (no keys): the size matched.
    verdict.verdict = PackageVerdict::Accepted;
    verdict.logLine = Format("更新包大小相符 文件:'%s' 大小:%" PRId64, path.c_str(),
                             static_cast<int64_t>(size.QuadPart));
    verdict.hold = std::move(file);
  } else if (!trust::Sha256OfFile(file.Get(), actual, read, error)) {
    verdict = Refuse(path, file, remove,
                     Format("更新包无法校验[错误:%lu],拒绝安装 文件:'%s'", error, path.c_str()));
  } else if (actual != expected.digest) {
    verdict = Refuse(path, file, remove,
                     Format("更新包校验失败 文件:'%s' 期望sha256:%s 实际sha256:%s", path.c_str(),
                            trust::DigestText(expected.digest).c_str(),
                            trust::DigestText(actual).c_str()));
  } else {
    verdict.verdict = PackageVerdict::Accepted;
    verdict.logLine = Format("更新包校验通过 文件:'%s' sha256:%s 大小:%" PRId64, path.c_str(),
                             trust::DigestText(actual).c_str(), read);
    verdict.hold = std::move(file);
  }
  verdict.note = note;
  return verdict;
}
