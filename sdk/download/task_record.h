// Reading a task record handed to CreateTask: which records are refused, and
// the task the service keeps (texts copied, folder and name as UTF-16 for the
// wide file functions).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "download_service.h"

namespace download {

// Why CreateTask refuses a task (None: it is accepted).
enum class Refusal {
  None,
  BadKind,          // neither 0 nor 1
  NoRecord,         // null record
  NoWindow,         // null window handle
  Unterminated,     // a text field without its NUL
  EmptyUrl,
  NoFileName,       // a file download without a name
  BadText,          // folder or name that is not code page 936 text
};
const char* RefusalText(Refusal refusal);

// The length of the NUL-terminated text in a field of `size` bytes, or
// `size` when the field holds no NUL (never reads past the field).
size_t FieldLength(const char* field, size_t size);

// Code page 936 bytes as UTF-16; false for bytes that are not valid there.
bool FromCodePage936(const std::string& text, std::wstring& wide);

// What the options of a task ask for (all off for a plain CreateTask).
struct TaskOptions {
  bool sendOnce = false;     // kind 0: never sent again
  int64_t sizeLimit = -1;    // kind 1: the file's size, -1 when not given
  bool hasDigest = false;    // kind 1: `digest` is the file's signed digest
  std::array<uint8_t, 32> digest{};
  bool reportFile = false;   // kind 1: a 1089 record before the end
};

// What the service keeps of an accepted task.
struct TaskOrder {
  uint32_t kind = 0;
  std::string url;      // as given (code page 936 bytes)
  std::wstring folder;  // kind 1: the destination folder
  std::wstring name;    // kind 1: the final file name
  TaskOptions options;
};

// Reads a caller's options; false for a record this library does not know
// (another size, unknown flags, a negative size limit).
bool ReadTaskOptions(const DownloadTaskOptions* record, TaskOptions& options);

// Checks a record and copies what the task needs. The window only counts as
// given or not here; the caller keeps it.
Refusal ReadTask(uint32_t kind, const DownloadTaskParams* params, bool hasWindow, TaskOrder& order);

}  // namespace download
