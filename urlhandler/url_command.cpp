#include "url_command.h"

#include <json/json.h>

#include <limits>

#include "code_page.h"
#include "json_util.h"
#include "param_envelope.h"
#include "path_util.h"

namespace {

constexpr char kSeparator[] = "://";
constexpr size_t kSeparatorLength = 3;
constexpr char kOpenVerb[] = "open";
constexpr size_t kVerbLength = 4;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The text given to the hall program through the launcher: the parameter
// envelope of {"Portus": <value>}.
std::string PortusStartParams(const std::string& value) {
  Json::Value inner(Json::objectValue);
  inner["Portus"] = value;
  return ParamEnvelope::Wrap(rt::StyledText(inner));
}

// The open form's payload: a union code, or a JSON object with an optional
// union code "u" and login data "a"/"p".
std::string OpenFormParams(const std::string& payload) {
  if (!payload.empty()) {
    const int32_t number = LeadingNumber(payload);
    if (number != 0) {
      Json::Value params(Json::objectValue);
      params["UC"] = number;
      return rt::StyledText(params);
    }
  }
  Json::Value given;
  if (!rt::ParseJson(payload, given) || !rt::IsNonEmptyObject(given)) return std::string();

  Json::Value params(Json::objectValue);
  int32_t unionCode = 0;
  if (rt::ReadInt(given, "u", unionCode)) params["UC"] = unionCode;
  if (given.isMember("a")) {
    Json::Value login(Json::objectValue);
    std::string text;
    if (rt::ReadString(given, "a", text)) {
      login["a"] = text;
      if (rt::ReadString(given, "p", text)) login["p"] = text;
    }
    if (!login.empty()) params["SP"] = PortusStartParams(":Login " + rt::StyledText(login));
  }
  return params.empty() ? std::string() : rt::StyledText(params);
}

}  // namespace

int32_t LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative value, whose range is one larger.
  constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 - (text[i] - '0');
    if (value < kLowest) value = kLowest;  // saturate, keep consuming digits
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(value);
}

UrlDecision DecideUrlCommand(const std::string& commandText) {
  UrlDecision decision;
  // The text is code page 936 and walked character by character.
  const size_t separator = cp936::Find(commandText, kSeparator);
  if (separator == std::string::npos || separator == 0) return decision;  // exit -1

  const size_t verbAt = separator + kSeparatorLength;
  const size_t afterVerb = verbAt + kVerbLength;
  bool openForm = false;
  if (afterVerb <= commandText.size()) {
    openForm = true;
    for (size_t k = 0; k < kVerbLength; ++k)
      if (LowerAscii(commandText[verbAt + k]) != kOpenVerb[k]) openForm = false;
    if (openForm && afterVerb < commandText.size() && commandText[afterVerb] != ' ')
      openForm = false;
  }

  if (openForm) {
    const std::string payload =
        afterVerb + 1 < commandText.size() ? commandText.substr(afterVerb + 1) : std::string();
    decision.action = UrlAction::kStartLauncher;
    decision.launcherParams = OpenFormParams(payload);
    return decision;
  }

  // Any other URL arrives as "<scheme>://...", quotes included. The separator
  // is at position 1 or later, so the text has at least four characters. The
  // first and the last character are dropped (a Chinese one whole), then one
  // trailing slash or backslash character (not the second byte 0x5C of one).
  decision.action = UrlAction::kSendOrStart;
  const size_t first = cp936::CharLength(commandText, 0);
  decision.scheme = commandText.substr(first, separator - first);
  decision.url = commandText.substr(first, cp936::LastCharStart(commandText) - first);
  if (cp936::EndsWithOneOf(decision.url, "/\\")) decision.url.pop_back();
  Json::Value params(Json::objectValue);
  params["SP"] = PortusStartParams(decision.url);
  decision.launcherParams = rt::StyledText(params);
  return decision;
}

std::string LauncherCommandLine(const std::string& folder, const std::string& launcherParams) {
  std::string line = "\"" + JoinPath(folder, kLauncherFileName) + "\" ";
  line += ParamEnvelope::Wrap(launcherParams);
  return line;
}
