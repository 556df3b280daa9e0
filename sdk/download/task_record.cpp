#include "task_record.h"

#include <cstring>

#include "text_convert.h"

namespace download {

const char* RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::None: return "accepted";
    case Refusal::BadKind: return "unknown task kind";
    case Refusal::NoRecord: return "no task record";
    case Refusal::NoWindow: return "no window to report to";
    case Refusal::Unterminated: return "a text field without its terminator";
    case Refusal::EmptyUrl: return "empty address";
    case Refusal::NoFileName: return "a file download without a file name";
    case Refusal::BadText: return "folder or file name is not code page 936 text";
  }
  return "?";
}

size_t FieldLength(const char* field, size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  return nul == nullptr ? size : static_cast<size_t>(static_cast<const char*>(nul) - field);
}

bool FromCodePage936(const std::string& text, std::wstring& wide) {
  return text_convert::ToWide(936, text, wide, MB_ERR_INVALID_CHARS);
}

Refusal ReadTask(uint32_t kind, const DownloadTaskParams* params, bool hasWindow, TaskOrder& order) {
  if (kind != kTaskLoadData && kind != kTaskDownloadFile) return Refusal::BadKind;
  if (params == nullptr) return Refusal::NoRecord;
  if (!hasWindow) return Refusal::NoWindow;
  const size_t text = FieldLength(params->text, sizeof params->text);
  const size_t name = FieldLength(params->name, sizeof params->name);
  const size_t folder = FieldLength(params->folder, sizeof params->folder);
  const size_t url = FieldLength(params->url, sizeof params->url);
  if (text == sizeof params->text || name == sizeof params->name ||
      folder == sizeof params->folder || url == sizeof params->url) {
    return Refusal::Unterminated;
  }
  if (url == 0) return Refusal::EmptyUrl;
  order = TaskOrder();
  order.kind = kind;
  order.url.assign(params->url, url);
  if (kind == kTaskDownloadFile) {
    if (name == 0) return Refusal::NoFileName;
    if (!FromCodePage936(std::string(params->name, name), order.name) ||
        !FromCodePage936(std::string(params->folder, folder), order.folder)) {
      return Refusal::BadText;
    }
  }
  return Refusal::None;
}

bool ReadTaskOptions(const DownloadTaskOptions* record, TaskOptions& options) {
  if (record == nullptr || record->structSize != sizeof(DownloadTaskOptions)) return false;
  if ((record->flags & ~kTaskOptionsKnown) != 0) return false;
  TaskOptions read;
  read.sendOnce = (record->flags & kTaskOptionSendOnce) != 0;
  if (record->flags & kTaskOptionSizeLimit) {
    if (record->size < 0) return false;
    read.sizeLimit = record->size;
  }
  read.hasDigest = (record->flags & kTaskOptionDigest) != 0;
  if (read.hasDigest) std::memcpy(read.digest.data(), record->sha256, read.digest.size());
  read.reportFile = (record->flags & kTaskOptionReportFile) != 0;
  options = read;
  return true;
}

}  // namespace download
