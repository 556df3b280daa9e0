// The operations "URL_LoadData" and "URL_Download": they hand a task to the
// download service; the outcome arrives later as a notice (download_client).
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "download_client.h"
#include "download_service.h"

// What the URL operations need from the launcher's main window.
class DownloadTasks {
 public:
  // The service's task id, 0 when the task was not started. `options`
  // (optional) go to a service that takes them (our Download.dll's second
  // export); a service without them gets the plain task.
  virtual uint32_t CreateTask(uint32_t kind, const DownloadTaskParams& params,
                              const DownloadTaskOptions* options = nullptr) = 0;
  virtual DownloadClient& Client() = 0;

 protected:
  ~DownloadTasks() = default;
};

// The window that serves the URL operations (null: none, the calls are
// dropped with a log line).
void SetDownloadTasks(DownloadTasks* tasks);
DownloadTasks* CurrentDownloadTasks();

// The arguments of a file download, each with its default when absent or of
// another JSON type.
struct DownloadCallArgs {
  std::string url;
  std::string name;
  std::string path;
  std::string text;
  int32_t opsign = 0;
  bool display = false;
  bool open = false;
  static DownloadCallArgs FromCall(const Json::Value& call);
};

// The destination folder of a download: `path` when absolute, `exeDir` joined
// with it when relative, `exeDir` itself when empty.
std::string DownloadFolder(const std::string& path, const std::string& exeDir);

// Fills a zeroed task record. A text that does not fit its field with its
// terminator refuses the task: false, and `field` names it.
bool FillLoadDataParams(const std::string& url, const std::string& downloadDir,
                        DownloadTaskParams& params, std::string& field);
bool FillDownloadParams(const DownloadCallArgs& args, const std::string& folder,
                        DownloadTaskParams& params, std::string& field);

// The continuation text of a call: its "then" object written by the styled
// writer, or empty when it has none.
std::string ContinuationText(const Json::Value& call);

// A data load nobody waits for (no continuation, neither cached nor raised
// as a Lua event: the statistics and registration requests) counts
// something on the server: it is sent once, never again.
bool LoadIsSentOnce(int32_t code, bool hasContinuation);

// The options of a package download, from what its continuation expects
// (package_check.h): the service takes the SHA-256 while writing when a
// digest is expected or required (`keys`); with keys a signed size is a limit
// the download stops at, and a signed digest vouches for a partial file of
// an earlier start. Without keys the design knows neither, so the size only
// reaches the check and a digest vouches for nothing. Flags 0: no options.
DownloadTaskOptions PackageDownloadOptions(const Json::Value& continuation, bool keys);

void URLLoadDataOperation(const std::string& op, Json::Value call);
void URLDownloadOperation(const std::string& op, Json::Value call);
