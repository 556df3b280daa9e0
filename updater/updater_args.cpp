#include "updater_args.h"

#include <algorithm>
#include <cstdio>

#include "json_util.h"
#include "param_envelope.h"
#include "trust_text.h"

namespace {

// Short key first; the long key counts only when the short one is absent or
// not a string.
void ReadText(const Json::Value& obj, const char* shortKey, const char* longKey,
              std::string& out) {
  if (!rt::ReadString(obj, shortKey, out) && longKey) rt::ReadString(obj, longKey, out);
}

void ReadFlag(const Json::Value& obj, const char* shortKey, const char* longKey, uint32_t bit,
              uint32_t& options) {
  bool value = false;
  if (rt::ReadBool(obj, shortKey, value) || rt::ReadBool(obj, longKey, value)) {
    if (value) options |= bit;
  }
}

// A text that would not fit its buffer, or that a C string would cut short,
// is refused rather than turned into a different path.
bool Fits(const std::string& text, const char* key, std::string& logLine) {
  char line[160];
  if (text.size() > kArgumentTextLimit) {
    std::snprintf(line, sizeof line, "启动参数'%s'过长(%u字节,最多%u字节)", key,
                  static_cast<unsigned>(text.size()), static_cast<unsigned>(kArgumentTextLimit));
    logLine = line;
    return false;
  }
  if (text.find('\0') != std::string::npos) {
    std::snprintf(line, sizeof line, "启动参数'%s'含有空字符", key);
    logLine = line;
    return false;
  }
  return true;
}

}  // namespace

ParseOutcome ParseUpdaterArgs(const std::string& commandLine) {
  ParseOutcome outcome;
  const std::string text = ParamEnvelope::Unwrap(commandLine);

  Json::Value root;
  if (!rt::ParseJson(text, root) || !rt::IsObjectOrNull(root)) return outcome;

  UpdaterArgs& args = outcome.args;
  args.options = kOptDefault;
  ReadText(root, "TP", "TargetPath", args.targetPath);
  ReadText(root, "SP", "StartParams", args.startParams);
  ReadText(root, "path", nullptr, args.copyPath);
  ReadText(root, "dir", nullptr, args.directory);
  ReadText(root, "open", nullptr, args.open);
  if (!args.open.empty()) args.options |= kOptRunAfter;
  ReadFlag(root, "SU", "SignUpdate", kOptCopy, args.options);
  ReadFlag(root, "SI", "SignInstall", kOptInstall, args.options);
  ReadFlag(root, "SR", "SignRun", kOptRunAfter, args.options);
  int32_t code = 0;
  if (rt::ReadInt(root, "code", code))
    args.options ^= static_cast<uint32_t>(code) & kOptCodeMask;
  const bool copy = (args.options & kOptCopy) != 0;
  const bool install = (args.options & kOptInstall) != 0;
  if (copy && install) {
    outcome.logLine = "操作冲突(启动参数'SU'或'SI'不能同时使用)";
    return outcome;
  }
  if (!copy && !install) {
    outcome.logLine = "没有任何操作(请用启动参数'SU'或'SI'指定)";
    return outcome;
  }
  if (args.targetPath.empty()) {
    outcome.logLine = "没有指定目标源文件(请用启动参数'TP'指定)";
    return outcome;
  }
  if (copy && args.copyPath.empty()) {
    outcome.logLine = "没有指定复制文件目的地(请用启动参数'path'指定)";
    return outcome;
  }
  // The signed digest and size of a package to copy: a copy that carries
  // them is checked against them; one that carries them out of form is
  // refused rather than copied unchecked.
  if (const Json::Value* digest = rt::FindMember(root, "sha256")) {
    trust::Digest parsed{};
    if (!digest->isString() || !trust::ParseDigest(digest->asString(), parsed)) {
      outcome.logLine = "启动参数'sha256'格式错误";
      return outcome;
    }
    args.hasDigest = true;
    std::copy(parsed.begin(), parsed.end(), args.digest.begin());
  }
  if (const Json::Value* size = rt::FindMember(root, "size")) {
    if (!size->isIntegral() || size->asLargestInt() < 0) {
      outcome.logLine = "启动参数'size'格式错误";
      return outcome;
    }
    args.size = size->asLargestInt();
  }

  if (!Fits(args.targetPath, "TP", outcome.logLine) ||
      !Fits(args.startParams, "SP", outcome.logLine) ||
      !Fits(args.copyPath, "path", outcome.logLine) ||
      !Fits(args.directory, "dir", outcome.logLine) ||
      !Fits(args.open, "open", outcome.logLine))
    return outcome;

  outcome.accepted = true;
  return outcome;
}
