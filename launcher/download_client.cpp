#include "download_client.h"

#include <cstdio>
#include <cstring>

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
                                   const std::string& url) {
  if (opsign != 0) taskSign_[task] = opsign;
  if (!thenText.empty()) taskThen_[task] = thenText;
  if (!url.empty()) taskUrl_[task] = url;
}

void DownloadClient::OnRequestDetails(uint32_t task, uint32_t error, uint32_t httpStatus,
                                      const std::string& signature) {
  Details& details = taskDetails_[task];
  details.error = error;
  details.httpStatus = httpStatus;
  details.signature = signature;
}

void DownloadClient::LogFailure(const char* what, const std::string& url,
                                const Details& details) {
  if (!log_) return;
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
  if (id == kLoadDataNoticeId) {
    if (data == nullptr || size < sizeof(LoadDataNoticeHeader)) return true;
    LoadDataNoticeHeader header;
    std::memcpy(&header, data, sizeof header);
    // A record that claims more bytes than it holds is damaged: the load
    // counts as failed, so its continuation still runs (without data) and
    // the caller's failure path follows instead of a start that stalls.
    if (header.length > size - sizeof header) {
      OnLoadDataNotice(header.task, std::string());
      return true;
    }
    // The record is valid only while its message is handled: copy the bytes.
    const char* bytes = static_cast<const char*>(data) + sizeof header;
    OnLoadDataNotice(header.task, std::string(bytes, header.length));
    return true;
  }
  return false;
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
  // A finished download's bookkeeping goes with its last record.
  taskSign_.erase(notice.task);
  taskRate_.erase(notice.task);
  const Details details = TakeOr(taskDetails_, notice.task, Details());
  const std::string url = TakeOr(taskUrl_, notice.task, std::string());
  if (notice.status == kDownloadFailed) LogFailure("URLDownload", url, details);
  const DownloadCheckFn check = TakeOr(taskCheck_, notice.task, DownloadCheckFn());
  const bool succeeded = notice.status == kDownloadFinished && (!check || check());
  const std::string thenText = TakeOr(taskThen_, notice.task, std::string());
  Json::Value then;
  if (thenText.empty() || !rt::ParseJson(thenText, then) || !rt::IsNonEmptyObject(then)) return;
  Json::Value result(Json::objectValue);
  result["status"] = succeeded;
  then["result"] = result;
  post_(rt::StyledText(then));
}

void DownloadClient::OnLoadDataNotice(uint32_t task, const std::string& data) {
  const int32_t opsign = TakeOr(taskSign_, task, 0);
  const int32_t code = TakeOr(taskCode_, task, 0);
  const std::string thenText = TakeOr(taskThen_, task, std::string());
  const Details details = TakeOr(taskDetails_, task, Details());
  const std::string url = TakeOr(taskUrl_, task, std::string());
  if (data.empty()) LogFailure("URLLoadData", url, details);
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
  for (const auto& e : taskCheck_) tasks[e.first] = true;
  return tasks.size();
}
