#include "download_client.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "json_util.h"
#include "lua_event.h"

namespace {

template <class Map>
typename Map::mapped_type TakeOr(Map& map, uint32_t task, typename Map::mapped_type fallback) {
  auto it = map.find(task);
  if (it == map.end()) return fallback;
  typename Map::mapped_type value = std::move(it->second);
  map.erase(it);
  return value;
}

}  // namespace

DownloadClient::DownloadClient(PostFn post, ClockFn clock)
    : post_(std::move(post)), clock_(std::move(clock)) {}

void DownloadClient::TrackLoad(uint32_t task, int32_t opsign, int32_t code,
                               const std::string& thenText, const std::string& url) {
  taskCode_[task] = code;
  if (opsign != 0) taskSign_[task] = opsign;
  if (!thenText.empty()) taskThen_[task] = thenText;
  if (!url.empty()) taskUrl_[task] = url;
}

void DownloadClient::TrackDownload(uint32_t task, int32_t opsign, const std::string& thenText,
                                   const std::string& url, const std::string& filePath) {
  if (opsign != 0) taskSign_[task] = opsign;
  if (!thenText.empty()) taskThen_[task] = thenText;
  if (!url.empty()) taskUrl_[task] = url;
  if (!filePath.empty()) {
    ForgetWrittenPackage(filePath);
    taskPath_[task] = filePath;
  }
}

bool DownloadClient::Tracked(uint32_t task) const {
  return taskSign_.count(task) || taskCode_.count(task) || taskThen_.count(task) ||
         taskUrl_.count(task) || taskPath_.count(task);
}

void DownloadClient::OnFileDetails(const FileDetailsRecord& record) {
  if (record.processId != GetCurrentProcessId() || record.handle == 0 || !Tracked(record.task))
    return;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(),
                       reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record.handle)),
                       GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return;
  }
  WrittenPackage written;
  written.hold.Set(copy);
  written.size = record.size;
  std::memcpy(written.digest.data(), record.sha256, written.digest.size());
  taskWritten_[record.task] = std::move(written);
}

bool DownloadClient::TakeWrittenPackage(const std::string& path, WrittenPackage& written) {
  auto it = written_.find(path);
  if (it == written_.end()) return false;
  written = std::move(it->second);
  written_.erase(it);
  return true;
}

void DownloadClient::ForgetWrittenPackage(const std::string& path) { written_.erase(path); }

void DownloadClient::OnRequestDetails(uint32_t task, uint32_t error, uint32_t httpStatus,
                                      const std::string& signature) {
  if (!Tracked(task)) return;  // an unknown task does nothing
  Details& details = taskDetails_[task];
  details.present = true;
  details.error = error;
  details.httpStatus = httpStatus;
  details.signature = signature;
}

void DownloadClient::LogFailure(const char* what, const std::string& url,
                                const Details& details) {
  // Nothing is said without the service's details (a service of the
  // design sends none: "[错误:0 HTTP:0]" would say nothing true).
  if (!log_ || !details.present) return;
  const bool failed =
      details.error != 0 || details.httpStatus < 200 || details.httpStatus >= 300;
  if (!failed) return;
  // Every refused certificate or handshake reads 12157 under Wine; 12175 and
  // the certificate errors on Windows: all the same here.
  const bool secure = details.error == 12157 || details.error == 12175 ||
                      details.error == 12037 || details.error == 12038 ||
                      details.error == 12045 || details.error == 12169;
  char line[2300];
  std::snprintf(line, sizeof line, "%s 请求失败[错误:%u HTTP:%u]%s 地址:%s", what,
                static_cast<unsigned>(details.error), static_cast<unsigned>(details.httpStatus),
                secure ? "(安全连接失败)" : "", url.c_str());
  log_(line);
}

bool DownloadClient::OnRecord(uintptr_t id, const void* data, size_t size) {
  if (id == kDownloadNoticeId) {
    if (data == nullptr || size < sizeof(DownloadNotice)) return true;
    DownloadNotice notice;
    std::memcpy(&notice, data, sizeof notice);
    OnDownloadNotice(notice);
    return true;
  }
  if (id == kRequestDetailsNoticeId) {
    if (data == nullptr || size < sizeof(RequestDetailsHeader)) return true;
    RequestDetailsHeader header;
    std::memcpy(&header, data, sizeof header);
    if (header.signatureLength > size - sizeof header) return true;
    const char* bytes = static_cast<const char*>(data) + sizeof header;
    OnRequestDetails(header.task, header.error, header.httpStatus,
                     std::string(bytes, header.signatureLength));
    return true;
  }
  if (id == kFileDetailsNoticeId) {
    if (data == nullptr || size < sizeof(FileDetailsRecord)) return true;
    FileDetailsRecord record;
    std::memcpy(&record, data, sizeof record);
    OnFileDetails(record);
    return true;
  }
  if (id == kLoadDataNoticeId) {
    // A damaged record (shorter than its header, or claiming more bytes
    // than it holds) ends its load as failed, so the continuation still runs
    // (without data) and the caller's failure path follows instead of a
    // start that stalls.
    if (data == nullptr || size < sizeof(uint32_t)) {
      // Not even the task can be told: every data load still waiting ends.
      std::vector<uint32_t> waiting;
      for (const auto& entry : taskCode_) waiting.push_back(entry.first);
      for (uint32_t task : waiting) FailDamagedLoad(task);
      return true;
    }
    LoadDataNoticeHeader header{};
    std::memcpy(&header, data, size < sizeof header ? sizeof(uint32_t) : sizeof header);
    if (size < sizeof header || header.length > size - sizeof header) {
      FailDamagedLoad(header.task);
      return true;
    }
    // The record is valid only while its message is handled: copy the bytes.
    const char* bytes = static_cast<const char*>(data) + sizeof header;
    OnLoadDataNotice(header.task, std::string(bytes, header.length));
    return true;
  }
  return false;
}

void DownloadClient::FailDamagedLoad(uint32_t task) {
  if (log_ && Tracked(task))
    log_("URLLoadData 数据记录损坏[任务:" + std::to_string(task) + "],按加载失败处理");
  OnLoadDataNotice(task, std::string());
}

void DownloadClient::OnDownloadNotice(const DownloadNotice& notice) {
  const bool finished = notice.status == kDownloadFinished || notice.status == kDownloadFailed;
  auto sign = taskSign_.find(notice.task);
  const int32_t opsign = sign == taskSign_.end() ? 0 : sign->second;
  if (opsign != 0) {
    // The speed over the last seconds and the time the rest takes at it; a
    // broken connection starts the measure again.
    TransferRate& rate = taskRate_[notice.task];
    if (notice.status == kDownloadReconnecting) {
      rate.Reset();
    } else {
      rate.Add(clock_(), notice.loaded);
    }
    Json::Value data(Json::objectValue);
    data["id"] = opsign;
    data["status"] = notice.status;
    data["size"] = notice.total;
    data["load"] = notice.loaded;
    data["speed"] = static_cast<Json::Int64>(finished ? 0 : rate.BytesPerSecond());
    data["left"] = static_cast<Json::Int64>(
        finished ? 0 : rate.SecondsLeft(notice.total, notice.loaded));
    post_(LuaEventCall("OnURLDownload", data));
  }
  if (!finished) return;
  // A finished download's bookkeeping goes with its last record; what the
  // service took of its file waits under the file's name for the check.
  const bool known = Tracked(notice.task);
  taskSign_.erase(notice.task);
  taskRate_.erase(notice.task);
  const Details details = TakeOr(taskDetails_, notice.task, Details());
  const std::string url = TakeOr(taskUrl_, notice.task, std::string());
  const std::string path = TakeOr(taskPath_, notice.task, std::string());
  WrittenPackage written = TakeOr(taskWritten_, notice.task, WrittenPackage());
  if (notice.status == kDownloadFailed && known) LogFailure("URLDownload", url, details);
  const DownloadCheckFn check = TakeOr(taskCheck_, notice.task, DownloadCheckFn());
  if (check) written.hold.Close();  // that check reads (and may remove) the file itself
  const bool succeeded = notice.status == kDownloadFinished && (!check || check());
  if (succeeded && written.hold && !path.empty()) written_[path] = std::move(written);
  const std::string thenText = TakeOr(taskThen_, notice.task, std::string());
  Json::Value then;
  if (thenText.empty() || !rt::ParseJson(thenText, then) || !rt::IsNonEmptyObject(then)) return;
  Json::Value result(Json::objectValue);
  result["status"] = succeeded;
  then["result"] = result;
  post_(rt::StyledText(then));
}

void DownloadClient::OnLoadDataNotice(uint32_t task, const std::string& data) {
  const bool known = Tracked(task);
  const int32_t opsign = TakeOr(taskSign_, task, 0);
  const int32_t code = TakeOr(taskCode_, task, 0);
  const std::string thenText = TakeOr(taskThen_, task, std::string());
  const Details details = TakeOr(taskDetails_, task, Details());
  const std::string url = TakeOr(taskUrl_, task, std::string());
  if (data.empty() && known) LogFailure("URLLoadData", url, details);
  if ((code & kLoadCodeCache) && opsign != 0)
    loadedData_[opsign] = Cached{clock_() + kLoadedDataLifetimeMs, data, details.signature};
  if (code & kLoadCodeLuaEvent) {
    Json::Value event(Json::objectValue);
    event["id"] = opsign;
    event["data"] = data;
    post_(LuaEventCall("OnURLLoadData", event));
  }
  if (code & kLoadCodePostCall) {
    // A reply run as an operation call is what the network can make the
    // launcher do: with keys built in, only a signed one runs.
    const trust::SignatureCheck check =
        replyCheck_ && !data.empty() ? replyCheck_(data, details.signature)
                                     : trust::SignatureCheck::Verified;
    if (check == trust::SignatureCheck::Verified) {
      post_(data);
    } else if (log_) {
      log_(std::string("URLLoadData 签名校验失败[") + trust::SignatureCheckText(check) +
           "],应答不作为操作执行 地址:" + url);
    }
  }
  if (!thenText.empty()) post_(thenText);
}

std::string DownloadClient::GetLoadedData(int32_t opsign) const {
  auto it = loadedData_.find(opsign);
  return it == loadedData_.end() ? std::string() : it->second.data;
}

std::string DownloadClient::GetLoadedSignature(int32_t opsign) const {
  auto it = loadedData_.find(opsign);
  return it == loadedData_.end() ? std::string() : it->second.signature;
}

void DownloadClient::PurgeLoadedData() {
  const uint64_t now = clock_();
  for (auto it = loadedData_.begin(); it != loadedData_.end();) {
    if (it->second.expiry <= now)
      it = loadedData_.erase(it);
    else
      ++it;
  }
}

size_t DownloadClient::TrackedTasks() const {
  std::map<uint32_t, bool> tasks;
  for (const auto& e : taskSign_) tasks[e.first] = true;
  for (const auto& e : taskCode_) tasks[e.first] = true;
  for (const auto& e : taskThen_) tasks[e.first] = true;
  for (const auto& e : taskDetails_) tasks[e.first] = true;
  for (const auto& e : taskUrl_) tasks[e.first] = true;
  for (const auto& e : taskPath_) tasks[e.first] = true;
  for (const auto& e : taskWritten_) tasks[e.first] = true;
  for (const auto& e : taskCheck_) tasks[e.first] = true;
  return tasks.size();
}
