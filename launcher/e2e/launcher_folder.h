// End-to-end tests of the real launcher: a fresh program folder under a
// Chinese name (holding 淺, whose second byte is a backslash byte) with the
// shipped programs, DLLs and skin package; the operator's endpoints stood in
// for on loopback at the addresses the test build has compiled in; records
// read and written through the same store the launcher uses.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <json/value.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "loopback_endpoint.h"

namespace e2e {

// The addresses compiled into the test build.
constexpr uint16_t kConfigPort = 18090;
constexpr uint16_t kStatisticsPort = 9090;

// What a launcher run did.
struct LauncherRun {
  int exitCode = -1000;              // -1000 not started, -1001 did not end in time
  std::vector<std::string> dialogs;  // texts of the dialogs it showed, in order
  std::vector<std::string> captions; // and their captions
  DWORD elapsedMs = 0;
};

// A running program that is ended (terminated if need be) when this goes.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Start(const std::string& commandLine, const std::string& workDir);
  // Waits for the end, answering dialogs with `closeCommand` (each after it
  // has been shown for `answerAfterMs`) and collecting their texts;
  // terminates the process after `timeoutMs` (a budget:
  // testing_support::Budget).
  LauncherRun Finish(DWORD timeoutMs, WPARAM closeCommand = IDCANCEL, DWORD answerAfterMs = 0);
  // When the process was created, as local time.
  const SYSTEMTIME& Created() const { return created_; }
  bool Running() const;
  DWORD Id() const { return info_.dwProcessId; }

 private:
  void Terminate();
  PROCESS_INFORMATION info_{};
  DWORD started_ = 0;
  SYSTEMTIME created_{};
};

// Milliseconds from `since` to the time stamp of the first log line holding
// `text` ("index=…,time:YYYYMMDD_hhmmssmmm:…"); -1 when there is none.
int64_t LogLineAfter(const std::string& log, const std::string& text, const SYSTEMTIME& since);
// The same from the log's first line: the launcher's own clock, without the
// time the system took to load it (seconds under emulation).
int64_t LogLineAfterStart(const std::string& log, const std::string& text);
// How many times `text` occurs.
size_t Count(const std::string& text, const std::string& part);

class LauncherFolder {
 public:
  // Makes the folder "<TEMP>\游戏淺<n>\<sub>" holding a copy of the build's
  // dist folder (the program folder as shipped). The default name ends in a
  // character whose second byte is the backslash byte.
  explicit LauncherFolder(const std::string& sub = "大厅淺");
  ~LauncherFolder();
  LauncherFolder(const LauncherFolder&) = delete;
  LauncherFolder& operator=(const LauncherFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  bool Exists(const std::string& name) const;
  std::string Read(const std::string& name) const;
  bool Write(const std::string& name, const std::string& bytes) const;
  void Remove(const std::string& name) const;
  // Copies a file of the build's bin folder into the program folder.
  bool Add(const std::string& binName, const std::string& as = std::string()) const;

  // The launcher's command line with `args` as its tail.
  std::string CommandLine(const std::string& args) const;
  // Runs the launcher to its end (closing its dialogs with IDCANCEL).
  LauncherRun RunLauncher(const std::string& args = std::string(), DWORD timeoutMs = 60000) const;
  Process StartLauncher(const std::string& args = std::string()) const;

  std::string Log() const { return Read("Log\\starter.log"); }
  // Waits until the launcher's log holds `text` (a budget of `timeoutMs`).
  bool WaitForLog(const std::string& text, DWORD timeoutMs) const;

  // Stored records of the launcher's database ("Config\config.db").
  Json::Value Record(const char* key) const;
  void SetRecord(const char* key, const Json::Value& value) const;
  void SetRecord(const char* key, const char* jsonText) const;
  // A record's text exactly as stored, and storing a text as it is.
  std::string RecordText(const char* key) const;
  void SetRecordText(const char* key, const std::string& text) const;

  // What the demo hall Orlune.exe recorded ("Orlune.received.json"); null
  // until it has written it.
  Json::Value HallRecord() const;
  bool WaitForHallRecord(DWORD timeoutMs) const;

 private:
  std::string root_;
  std::string path_;
};

// The operator's endpoints: the configuration endpoint and the statistics
// endpoint on their compiled-in loopback ports.
class Operator {
 public:
  Operator();
  ~Operator();
  // Fails, naming the port and who holds it, when a port cannot be taken.
  testing::AssertionResult Start();

  endpoint::LoopbackEndpoint& Config() { return config_; }
  endpoint::LoopbackEndpoint& Statistics() { return statistics_; }

  // The configuration reply for every request.
  void ReplyWith(const std::string& replyText);
  void ReplyWith(const endpoint::Reply& reply);
  void ReplyWith(std::function<endpoint::Reply(const endpoint::Request&)> decide);
  // The configuration data served at "/config.json"; its address.
  std::string ServeConfigData(const std::string& dataText);
  // A file of the build's bin folder served at "/<name>"; its address.
  std::string ServePackage(const std::string& binName);
  std::string Url(const std::string& path) { return config_.Url(path); }

  // A code-1 reply announcing `version` of the data at "/config.json".
  std::string ConfigReply(int version) const;

 private:
  endpoint::LoopbackEndpoint config_;
  endpoint::LoopbackEndpoint statistics_;
};

// Configuration data with platform and hall versions (0: left out) and the
// package addresses of `op`.
Json::Value ConfigData(Operator& op, int platformVersion, int hallVersion,
                       const Json::Value& hallParams = Json::Value());

bool Has(const std::string& text, const std::string& part);
// A reply with nothing but a status.
endpoint::Reply StatusReply(int status);
Json::Value ParseJsonText(const std::string& text);
std::string JsonText(const Json::Value& value);

}  // namespace e2e
