#include "updater_chain.h"

#include "trust_text.h"

#include <cstdio>

#include "code_page.h"
#include "json_util.h"

const char kInstallLogFolder[] = "Log\\Install";

std::string InstallerLogStem(const std::string& targetPath) {
  // Separators and dots are looked for as whole characters: the second byte
  // of a double-byte character may be 0x5C.
  std::string path = targetPath;
  while (cp936::EndsWithOneOf(path, "\\/")) path.pop_back();
  size_t slash = cp936::FindLastOf(path, "\\");
  if (slash == std::string::npos) slash = cp936::FindLastOf(path, "/");
  const std::string component = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = cp936::FindLastOf(component, ".");
  return dot == std::string::npos ? component : component.substr(0, dot);
}

std::string InstallerLogPath(const std::string& programDir, const std::string& targetPath,
                             int64_t nowSeconds) {
  const std::string stem = InstallerLogStem(targetPath);
  if (!stem.empty()) return programDir + "\\" + kInstallLogFolder + "\\" + stem + ".log";
  char name[32];
  std::snprintf(name, sizeof name, "%d.log",
                static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(nowSeconds))));
  return programDir + "\\" + kInstallLogFolder + "\\" + name;
}

Json::Value BuildStartChain(const UpdaterArgs& args, const std::string& programDir,
                            int64_t nowSeconds) {
  Json::Value quit(Json::objectValue);
  quit["op"] = "Quit";

  Json::Value after = quit;
  const bool runAfter = !args.open.empty() || (args.options & kOptRunAfter) != 0;
  if (runAfter) {
    after = Json::Value(Json::objectValue);
    after["op"] = "OpenFile";
    after["then"] = quit;
    after["file"] = args.open.empty() ? args.copyPath : args.open;
    after["params"] = args.startParams;
    after["dir"] = args.directory;
    after["wait"] = (args.options & kOptWaitRunAfter) != 0;
  }

  Json::Value first(Json::objectValue);
  if (args.options & kOptCopy) {
    first["op"] = "CopyFile";
    first["then"] = after;
    first["file"] = args.targetPath;
    first["path"] = args.copyPath;
    if (args.hasDigest) {
      first["sha256"] = trust::HexText(args.digest.data(), args.digest.size());
      if (args.size >= 0) first["size"] = static_cast<Json::Int64>(args.size);
    }
  } else if (args.options & kOptInstall) {
    first["op"] = "Install";
    first["then"] = after;
    first["file"] = args.targetPath;
    first["dir"] = args.directory;
    first["wait"] = (args.options & kOptInstallNoLimit) != 0;
    first["log"] = InstallerLogPath(programDir, args.targetPath, nowSeconds);
  } else {
    first = quit;
  }
  return first;
}

namespace {

// Member `key` of an object, of any type; null when absent.
template <size_t N>
const Json::Value* Member(const Json::Value& object, const char (&key)[N]) {
  return object.isObject() ? object.find(key, key + N - 1) : nullptr;
}

}  // namespace

int32_t QuitExitCode(const Json::Value& call) {
  int32_t exitCode = 0;
  const Json::Value* result = Member(call, "result");
  if (result && result->isObject()) {
    const Json::Value* status = Member(*result, "status");
    if (status) {
      if (status->type() == Json::booleanValue)
        exitCode = status->asBool() ? 0 : -1;
      else if (rt::IsInt32(*status))
        exitCode = static_cast<int32_t>(status->asInt64());
    }
  }
  rt::ReadInt(call, "code", exitCode);
  return exitCode;
}
