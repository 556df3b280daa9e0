#include "command_line.h"

#include "json_util.h"
#include "param_envelope.h"

namespace {

// The short key counts first; the long one only when the short one is absent
// or of another JSON type.
bool ReadBoolKey(const Json::Value& obj, const char* shortKey, const char* longKey, bool& out) {
  return rt::ReadBool(obj, shortKey, out) || rt::ReadBool(obj, longKey, out);
}
bool ReadIntKey(const Json::Value& obj, const char* shortKey, const char* longKey, int32_t& out) {
  return rt::ReadInt(obj, shortKey, out) || rt::ReadInt(obj, longKey, out);
}
bool ReadStringKey(const Json::Value& obj, const char* shortKey, const char* longKey,
                   std::string& out) {
  return rt::ReadString(obj, shortKey, out) || rt::ReadString(obj, longKey, out);
}

// A boolean key that, when true, adds its bit to the signs.
void ReadSign(const Json::Value& obj, const char* shortKey, const char* longKey, bool& field,
              uint32_t bit, uint32_t& signs) {
  if (ReadBoolKey(obj, shortKey, longKey, field) && field) signs |= bit;
}

}  // namespace

LauncherSettings ParseLauncherCommandLine(const std::string& text, const Json::Value& storedInfo) {
  LauncherSettings s;
  int32_t storedUnion = 0;
  if (rt::IsNonEmptyObject(storedInfo) && rt::ReadInt(storedInfo, "UnionCode", storedUnion) &&
      storedUnion != 0)
    s.unionCode = storedUnion;

  Json::Value args;
  if (!rt::ParseJson(ParamEnvelope::Unwrap(text), args) || !args.isObject()) {
    s.unread = text.find_first_not_of(" \t\r\n") != std::string::npos;
    return s;
  }
  s.paramsText = rt::StyledText(args);

  ReadSign(args, "DG", "DebugConfig", s.debugConfig, kSignDebug, s.signs);
  ReadIntKey(args, "DC", "DebugCode", s.debugCode);
  ReadIntKey(args, "UC", "UnionCode", s.unionCode);
  ReadStringKey(args, "TP", "TargetPath", s.targetPath);
  ReadStringKey(args, "SP", "StartParams", s.startParams);
  ReadSign(args, "SI", "SignInstall", s.signInstall, kSignInstall, s.signs);
  ReadSign(args, "SR", "SignRun", s.signRun, kSignRun, s.signs);
  ReadSign(args, "SU", "SignUpdate", s.signUpdate, kSignUpdate, s.signs);
  ReadSign(args, "SB", "SignReboot", s.signReboot, kSignReboot, s.signs);
  return s;
}
