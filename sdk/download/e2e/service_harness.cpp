#include "service_harness.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include <winsock2.h>

#include <cstring>

#include "test_support.h"

namespace download_test {

namespace {
constexpr wchar_t kClassName[] = L"DownloadTestRecords";
}  // namespace

uint32_t Record::Task() const {
  uint32_t task = 0;
  if (bytes.size() >= 4) std::memcpy(&task, bytes.data(), 4);
  return task;
}

DownloadNotice Record::Notice() const {
  DownloadNotice notice{};
  if (bytes.size() >= sizeof notice) std::memcpy(&notice, bytes.data(), sizeof notice);
  return notice;
}

std::string Record::Data() const {
  LoadDataNoticeHeader header{};
  if (bytes.size() < sizeof header) return "";
  std::memcpy(&header, bytes.data(), sizeof header);
  return bytes.substr(sizeof header, header.length);
}

RecordWindow::RecordWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &RecordWindow::WndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
}

RecordWindow::~RecordWindow() { Destroy(); }

void RecordWindow::Destroy() {
  if (window_ != nullptr) DestroyWindow(window_);
  window_ = nullptr;
}

LRESULT CALLBACK RecordWindow::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<RecordWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_COPYDATA && self != nullptr) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    Record record;
    record.id = copy->dwData;
    if (copy->cbData > 0 && copy->lpData != nullptr) {
      record.bytes.assign(static_cast<const char*>(copy->lpData), copy->cbData);
    }
    record.tick = GetTickCount();
    self->records_.push_back(record);
    if (self->onRecord) self->onRecord(record);
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<Record> RecordWindow::RecordsOf(uint32_t task) const {
  std::vector<Record> out;
  for (const Record& r : records_)
    if (r.Task() == task && r.id != kRequestDetailsNoticeId) out.push_back(r);
  return out;
}

Details RecordWindow::DetailsOf(uint32_t task) const {
  Details details;
  std::vector<const Record*> all;
  for (const Record& r : records_)
    if (r.Task() == task) all.push_back(&r);
  size_t count = 0, at = 0;
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i]->id == kRequestDetailsNoticeId) ++count, at = i;
  if (count != 1 || at + 2 != all.size()) return details;  // once, and just before the last
  const std::string& bytes = all[at]->bytes;
  RequestDetailsHeader header{};
  if (bytes.size() < sizeof header) return details;
  std::memcpy(&header, bytes.data(), sizeof header);
  if (bytes.size() != sizeof header + header.signatureLength) return details;
  details.present = true;
  details.error = header.error;
  details.httpStatus = header.httpStatus;
  details.signature = bytes.substr(sizeof header);
  return details;
}

std::vector<FileDetailsRecord> RecordWindow::FileDetailsOf(uint32_t task) const {
  std::vector<FileDetailsRecord> found;
  for (const Record& r : records_) {
    if (r.id != kFileDetailsNoticeId || r.Task() != task || r.bytes.size() != sizeof(FileDetailsRecord))
      continue;
    FileDetailsRecord record;
    std::memcpy(&record, r.bytes.data(), sizeof record);
    found.push_back(record);
  }
  return found;
}

size_t RecordWindow::FinalRecords(uint32_t task) const {
  size_t n = 0;
  for (const Record& r : RecordsOf(task)) {
    if (r.id == kLoadDataNoticeId) ++n;
    if (r.id == kDownloadNoticeId &&
        (r.Notice().status == kDownloadFinished || r.Notice().status == kDownloadFailed)) {
      ++n;
    }
  }
  return n;
}

bool RecordWindow::WaitForEnds(const std::vector<uint32_t>& tasks, DWORD timeoutMs) {
  return testing_support::PumpMessagesUntil(
      [&] {
        for (uint32_t task : tasks)
          if (FinalRecords(task) == 0) return false;
        return true;
      },
      timeoutMs);
}

LoadedService::LoadedService(DWORD connectMs, DWORD receiveMs)
    : helper_(kCreateDownloadServiceName, kDownloadLibraryName, &kDownloadServiceIid,
              kDownloadServiceVersion) {
  if (!helper_.LoadComponent()) return;
  // The setting lives in the loaded library; no reference is kept here.
  HMODULE module = GetModuleHandleA(kDownloadLibraryName);
  auto set = reinterpret_cast<DownloadSetTimeoutsFn>(
      reinterpret_cast<void*>(GetProcAddress(module, kDownloadSetTimeoutsName)));
  if (set != nullptr) set(connectMs, receiveMs);
}

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * seed + i / 977) & 0xff);
  return s;
}

endpoint::Reply Body(const std::string& body, int status) {
  endpoint::Reply r;
  r.status = status;
  r.body = body;
  return r;
}

std::function<endpoint::Reply(const endpoint::Request&)> Script(std::vector<endpoint::Reply> replies) {
  auto next = std::make_shared<size_t>(0);
  auto script = std::make_shared<std::vector<endpoint::Reply>>(std::move(replies));
  auto lock = std::make_shared<std::mutex>();
  return [next, script, lock](const endpoint::Request&) {
    std::lock_guard<std::mutex> hold(*lock);
    const size_t at = std::min(*next, script->size() - 1);
    ++*next;
    return (*script)[at];
  };
}

uint32_t CreateTaskWithOptions(IDownloadService* service, uint32_t kind,
                               const DownloadTaskParams& params, HWND window,
                               const DownloadTaskOptions& options) {
  auto create = reinterpret_cast<CreateTaskWithOptionsFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA(kDownloadLibraryName), kCreateTaskWithOptionsName)));
  return create == nullptr ? 0 : create(service, kind, &params, window, &options);
}

DownloadTaskOptions TaskOptions(uint32_t flags, int64_t size, const std::string& digest) {
  DownloadTaskOptions options{};
  options.structSize = sizeof options;
  options.flags = flags;
  options.size = size;
  if (digest.size() == sizeof options.sha256)
    std::memcpy(options.sha256, digest.data(), sizeof options.sha256);
  return options;
}

DownloadTaskParams TaskRecord(const std::string& url, const std::string& folder,
                              const std::string& name) {
  DownloadTaskParams p;
  std::memset(&p, 0, sizeof p);
  std::memcpy(p.url, url.data(), std::min(url.size(), sizeof p.url - 1));
  std::memcpy(p.folder, folder.data(), std::min(folder.size(), sizeof p.folder - 1));
  std::memcpy(p.name, name.data(), std::min(name.size(), sizeof p.name - 1));
  return p;
}

uint16_t UnusedPort() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  uint16_t port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  closesocket(s);
  return port;
}

void PumpFor(DWORD ms) {
  testing_support::PumpMessagesUntil([] { return false; }, ms);
}

}  // namespace download_test
