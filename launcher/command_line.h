// The launcher's settings from its command line: a JSON object, plain or in a
// parameter envelope, whose keys have a two-letter short form and a long form.
// A pure function of the text and the stored configuration info.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// Bits of the requested actions.
constexpr uint32_t kSignRun = 0x01;
constexpr uint32_t kSignInstall = 0x02;
constexpr uint32_t kSignUpdate = 0x04;
constexpr uint32_t kSignDebug = 0x08;
constexpr uint32_t kSignReboot = 0x10;

struct LauncherSettings {
  bool debugConfig = false;
  bool signInstall = false;
  bool signRun = true;
  bool signUpdate = false;
  bool signReboot = false;
  uint32_t signs = kSignRun;  // only ever gains bits
  int32_t debugCode = 0;
  int32_t unionCode = 1;
  std::string targetPath;
  std::string startParams;
  std::string paramsText;  // the command-line object re-written by the styled writer
  bool unread = false;     // the text held something, but no JSON object

  // True when every bit of `mask` is set.
  bool HasSigns(uint32_t mask) const { return (signs & mask) == mask; }
};

// Reads the command-line text (everything after the program's name).
// `storedInfo` is the stored "CFG_ConfigInfo" record: its integer "UnionCode"
// other than 0 is the union code unless the command line gives one. Text that
// is neither an envelope of a JSON object nor a JSON object leaves the
// defaults (and sets `unread` unless the text is empty or blank). Start-up
// must fail when the result's union code is 0.
LauncherSettings ParseLauncherCommandLine(const std::string& text, const Json::Value& storedInfo);
