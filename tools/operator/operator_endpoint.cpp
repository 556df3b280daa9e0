// operator_endpoint.exe: a stand-in for the operator's web endpoints (not
// part of the product), for the demo and for trying the launcher by hand.
//
//   operator_endpoint <folder> [--config-port N] [--stats-port N] [--seconds N]
//                     [--bytes-per-second N] [--break-at-percent N] [--latency MS]
//
// Serves, on 127.0.0.1:
//   config port (18090)  /starterUpdate.do  the configuration reply: the file
//                        "starterUpdate.once.json" for the next request when
//                        it exists (then renamed to ".used", so a launcher
//                        update is ordered once), else "starterUpdate.json";
//                        /<name>            a file of the folder (as it was at
//                                           the start), sent at about N bytes
//                                           a second with --bytes-per-second
//                                           (full speed by default), so a
//                                           download's progress can be watched;
//                                           byte ranges are answered (ETag from
//                                           size and time). With
//                                           --break-at-percent the first answer
//                                           of each file breaks off after N % of
//                                           it and the next one waits 4 s, so a
//                                           reconnect can be watched
//   stats port (9090)    /plugins/stat/run and /plugins/did/reg: an empty reply
// A file that has a signature file beside it ("<name>.sig", as lumora_publish
// writes it) is answered with the header "X-Lumora-Signature" holding that
// file's first line.
// Connections are kept alive as a real server keeps them; --latency adds a
// network's round trip of MS milliseconds when a connection is made and
// before each answer.
// Every request is printed and appended to "<folder>\requests.log" as
// "<local time> <port> <path>?<query>". It runs until "<folder>\stop" exists,
// or for --seconds.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "code_page.h"
#include "loopback_endpoint.h"
#include "path_util.h"

namespace {

std::string g_folder;
int64_t g_bytesPerSecond = 0;  // 0: files at full speed
int g_breakAtPercent = 0;      // 0: no file's answer breaks off
std::mutex g_answersLock;
std::map<std::string, int> g_answers;  // answers given so far, by file
CRITICAL_SECTION g_logLock;

bool ReadWhole(const std::string& path, std::string& bytes) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(f);
  return true;
}

// Adds the signature of the file at `path` when "<path>.sig" exists.
void AddSignature(const std::string& path, endpoint::Reply& reply) {
  std::string signature;
  if (!ReadWhole(path + ".sig", signature)) return;
  const size_t end = signature.find_first_of("\r\n");
  if (end != std::string::npos) signature.resize(end);
  reply.headers.emplace_back("X-Lumora-Signature", signature);
}

void Record(uint16_t port, const endpoint::Request& request) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", now.wHour, now.wMinute, now.wSecond,
                now.wMilliseconds);
  std::string line = std::string(stamp) + " " + std::to_string(port) + " " + request.path;
  if (!request.query.empty()) line += "?" + request.query;
  EnterCriticalSection(&g_logLock);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (FILE* log = std::fopen(JoinPath(g_folder, "requests.log").c_str(), "ab")) {
    std::fprintf(log, "%s\r\n", line.c_str());
    std::fclose(log);
  }
  LeaveCriticalSection(&g_logLock);
}

endpoint::Reply ConfigurationReply(uint16_t port, const endpoint::Request& request) {
  Record(port, request);
  endpoint::Reply reply;
  reply.contentType = "application/json";
  const std::string once = JoinPath(g_folder, "starterUpdate.once.json");
  if (ReadWhole(once, reply.body)) {
    AddSignature(once, reply);
    MoveFileExA(once.c_str(), JoinPath(g_folder, "starterUpdate.once.used").c_str(),
                MOVEFILE_REPLACE_EXISTING);
    return reply;
  }
  const std::string current = JoinPath(g_folder, "starterUpdate.json");
  if (!ReadWhole(current, reply.body)) reply.status = 404;
  else AddSignature(current, reply);
  return reply;
}

endpoint::Reply FileReply(uint16_t port, const endpoint::Request& request) {
  Record(port, request);
  endpoint::Reply reply;
  const std::string name = request.path.substr(1);
  const std::string path = JoinPath(g_folder, name);
  // Files of the folder itself only.
  if (name.empty() || cp936::FindFirstOf(name, "\\/:") != std::string::npos || !FileExists(path)) {
    reply.status = 404;
    return reply;
  }
  reply.file = path;
  reply.bytesPerSecond = g_bytesPerSecond;
  reply.ranges = true;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    reply.etag = "\"" + std::to_string(size) + "-" + std::to_string(data.ftLastWriteTime.dwLowDateTime) +
                 "\"";
    if (g_breakAtPercent > 0) {
      std::lock_guard<std::mutex> hold(g_answersLock);
      const int answered = g_answers[name]++;
      if (answered == 0) reply.dropAfterBytes = static_cast<int64_t>(size * g_breakAtPercent / 100);
      if (answered == 1) reply.delayMs = 4000;
    }
  }
  AddSignature(path, reply);
  return reply;
}

uint16_t PortArgument(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  return value > 0 && value < 65536 ? static_cast<uint16_t>(value) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: operator_endpoint <folder> [--config-port N] [--stats-port N] "
                 "[--seconds N] [--bytes-per-second N] [--break-at-percent N]\n");
    return 2;
  }
  g_folder = argv[1];
  uint16_t configPort = 18090, statsPort = 9090;
  DWORD seconds = 0;
  int latencyMs = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--config-port") configPort = PortArgument(argv[i + 1]);
    else if (option == "--stats-port") statsPort = PortArgument(argv[i + 1]);
    else if (option == "--seconds") seconds = std::strtoul(argv[i + 1], nullptr, 10);
    else if (option == "--bytes-per-second")
      g_bytesPerSecond = std::strtoll(argv[i + 1], nullptr, 10);
    else if (option == "--break-at-percent")
      g_breakAtPercent = std::atoi(argv[i + 1]);
    else if (option == "--latency")
      latencyMs = std::atoi(argv[i + 1]);
  }
  if (!FolderExists(g_folder) || configPort == 0 || statsPort == 0 || g_bytesPerSecond < 0 ||
      g_breakAtPercent < 0 || g_breakAtPercent > 99) {
    std::fprintf(stderr, "operator_endpoint: no folder %s, a bad port or a bad rate\n",
                 g_folder.c_str());
    return 2;
  }
  InitializeCriticalSection(&g_logLock);
  DeleteFileA(JoinPath(g_folder, "stop").c_str());

  endpoint::LoopbackEndpoint config, stats;
  config.Route("/starterUpdate.do", [configPort](const endpoint::Request& r) {
    return ConfigurationReply(configPort, r);
  });
  // Every file of the folder at "/<name>".
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(JoinPath(g_folder, "*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      config.Route(std::string("/") + found.cFileName,
                   [configPort](const endpoint::Request& r) { return FileReply(configPort, r); });
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  for (const char* path : {"/plugins/stat/run", "/plugins/did/reg"})
    stats.Route(path, [statsPort](const endpoint::Request& r) {
      Record(statsPort, r);
      return endpoint::Reply{};
    });
  for (auto [server, port] : {std::pair{&config, configPort}, std::pair{&stats, statsPort}}) {
    server->SetLatency(latencyMs);
    if (!server->Start(port)) {
      std::printf("operator_endpoint: %s\n", endpoint::PortInUse(port).c_str());
      std::fflush(stdout);
      return 3;
    }
  }
  std::printf("operator_endpoint: serving %s on 127.0.0.1:%u and :%u\n", g_folder.c_str(),
              configPort, statsPort);
  std::fflush(stdout);
  const DWORD start = GetTickCount();
  while (!FileExists(JoinPath(g_folder, "stop"))) {
    if (seconds != 0 && GetTickCount() - start > seconds * 1000) break;
    Sleep(100);
  }
  config.Stop();
  stats.Stop();
  return 0;
}
