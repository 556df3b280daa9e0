// Download, our download-service library (Download.dll): the interface the
// launcher loads at run time by file name. Everything here crosses the DLL
// boundary, so records have a fixed byte layout and every method and export
// has an explicit calling convention.
//
// The service makes HTTP(S) requests on threads of its own and reports to a
// window with WM_COPYDATA:
//   - a data load (kind 0) ends with exactly one 1087 record carrying the body
//     (length 0 when the request failed);
//   - a file download (kind 1) sends 1086 progress records and ends with
//     exactly one 1086 record whose status is 3 (done) or 4 (failed). A
//     connection that breaks is carried on where it stopped (status 5 while
//     it waits to); the bytes loaded never go down in the records.
// Release() ends the service: running tasks are cancelled, its threads have
// ended and no record is sent once it returns.
//
// An addition of ours to the contract: just before the final record of a task
// (its 1087 record, or its 1086 record of status 3 or 4) the service sends a
// 1088 record with what became of the request: the system error of a failed
// request, the HTTP status, and the value of the response header
// "X-Lumora-Signature" (the operator's signature of the body). A client that
// does not know the record ignores it, as it ignores any identifier it does
// not handle.
//
// A second addition: task options, handed over through a second export
// ("DownloadCreateTaskWithOptions", below) that a client finds with
// GetProcAddress; a client that does not look for it gets the plain
// behaviour. Options say how often a data load may be sent, the size a file
// must have (the download stops as soon as a body passes it), the digest
// that vouches for a partial file of an earlier start, and ask for a 1089
// record: the file's SHA-256 taken while it was written, and a handle that
// has kept it from being changed since.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#define LUMORA_STDCALL __stdcall

// The file the launcher loads, and its one export.
constexpr char kDownloadLibraryName[] = "Download.dll";
constexpr char kCreateDownloadServiceName[] = "CreateDownloadService";

// {E0B37184-6FBE-44AC-A483-ABA6899B33D4}
constexpr GUID kDownloadServiceIid = {
    0xE0B37184, 0x6FBE, 0x44AC, {0xA4, 0x83, 0xAB, 0xA6, 0x89, 0x9B, 0x33, 0xD4}};
constexpr uint32_t kDownloadServiceVersion = 0x01030100;

// Task kinds of CreateTask.
constexpr uint32_t kTaskLoadData = 0;
constexpr uint32_t kTaskDownloadFile = 1;

#pragma pack(push, 1)
// One task's parameters, zero-filled before use. Texts are NUL-terminated, in
// the system code page, and must fit their field with the terminator.
struct DownloadTaskParams {
  uint8_t display;  // kind 1: the call's "display"
  uint8_t open;     // kind 1: the call's "open"
  char text[128];   // kind 1: a text shown with the task
  char name[260];   // kind 1: the file name to save as
  char folder[260]; // kind 0: the launcher's download folder; kind 1: the destination folder
  char url[2084];   // the address
};
#pragma pack(pop)
static_assert(sizeof(DownloadTaskParams) == 2734, "DownloadTaskParams is 2734 bytes");
static_assert(offsetof(DownloadTaskParams, display) == 0, "layout");
static_assert(offsetof(DownloadTaskParams, open) == 1, "layout");
static_assert(offsetof(DownloadTaskParams, text) == 2, "layout");
static_assert(offsetof(DownloadTaskParams, name) == 130, "layout");
static_assert(offsetof(DownloadTaskParams, folder) == 390, "layout");
static_assert(offsetof(DownloadTaskParams, url) == 650, "layout");

// WM_COPYDATA identifiers (COPYDATASTRUCT::dwData) of the records.
constexpr ULONG_PTR kDownloadNoticeId = 1086;
constexpr ULONG_PTR kLoadDataNoticeId = 1087;
constexpr ULONG_PTR kRequestDetailsNoticeId = 1088;

// The response header whose value a 1088 record carries, and the most of it
// that is handed on (a longer value is cut there).
constexpr char kSignatureHeaderName[] = "X-Lumora-Signature";
constexpr uint32_t kMaxSignatureHeaderBytes = 4096;

// Status values of a DownloadNotice.
constexpr int32_t kDownloadStarted = 1;     // connected, headers received
constexpr int32_t kDownloadProgress = 2;    // bytes arriving
constexpr int32_t kDownloadFinished = 3;    // the whole file is at its final name
constexpr int32_t kDownloadFailed = 4;      // failed; the final name is untouched
constexpr int32_t kDownloadReconnecting = 5;  // the connection broke; about to carry on

#pragma pack(push, 1)
// Record 1086: progress and end of a file download.
struct DownloadNotice {
  uint32_t task;    // 0: task id
  int32_t loaded;   // 4: bytes loaded
  int32_t total;    // 8: total size (-1 when unknown)
  int32_t status;   // 12: see above
};
// Record 1087: the end of a data load; `length` data bytes follow the header.
struct LoadDataNoticeHeader {
  uint32_t task;      // 0: task id
  uint32_t reserved1; // 4
  uint32_t length;    // 8: data length in bytes
  uint32_t reserved2; // 12
};
// Record 1088: what became of a task's request; `signatureLength` bytes of
// the signature header's value (ASCII, no terminator) follow the header.
struct RequestDetailsHeader {
  uint32_t task;             // 0: task id
  uint32_t error;            // 4: system error of the failed request (a WinHTTP code such as
                             //    12157 for a refused TLS connection, a Winsock or file error),
                             //    0 when there was none
  uint32_t httpStatus;       // 8: the HTTP status, 0 when no answer arrived
  uint32_t signatureLength;  // 12: bytes of the header's value that follow (0: no header)
};
#pragma pack(pop)
static_assert(sizeof(RequestDetailsHeader) == 16, "the signature starts at offset 16");
static_assert(offsetof(RequestDetailsHeader, httpStatus) == 8, "layout");
static_assert(sizeof(DownloadNotice) == 16, "DownloadNotice is 16 bytes");
static_assert(offsetof(DownloadNotice, status) == 12, "layout");
static_assert(sizeof(LoadDataNoticeHeader) == 16, "the data starts at offset 16");
static_assert(offsetof(LoadDataNoticeHeader, length) == 8, "layout");

// Record 1089 (asked for by kTaskOptionReportFile): the downloaded file as
// it was written. Sent just before the task's 1088 record and its final 1086
// record of status 3.
#pragma pack(push, 1)
struct FileDetailsRecord {
  uint32_t task;        // 0: task id
  uint32_t processId;   // 4: the process `handle` belongs to (the service's)
  uint64_t handle;      // 8: the file at its final name, open for reading only and denying
                        //    writing and deletion to everyone; it is the file that was
                        //    written and hashed, unchanged since. Valid only while the
                        //    record is handled: a client in the same process duplicates
                        //    it to keep that hold. 0 when there is none.
  int64_t size;         // 16: the file's size
  uint8_t sha256[32];   // 24: SHA-256 of the file's bytes, computed as they were written
};
#pragma pack(pop)
static_assert(sizeof(FileDetailsRecord) == 56, "FileDetailsRecord is 56 bytes in both builds");
static_assert(offsetof(FileDetailsRecord, handle) == 8, "layout");
static_assert(offsetof(FileDetailsRecord, size) == 16, "layout");
static_assert(offsetof(FileDetailsRecord, sha256) == 24, "layout");
constexpr ULONG_PTR kFileDetailsNoticeId = 1089;

// Task options (DownloadCreateTaskWithOptions).
constexpr uint32_t kTaskOptionSendOnce = 0x1;    // kind 0: the request goes out once, whatever
                                                 // fails (it counts something on the server)
constexpr uint32_t kTaskOptionSizeLimit = 0x2;   // kind 1: the file has `size` bytes: an answer
                                                 // announcing more, or a body passing it, ends
                                                 // the task at once (nothing further written,
                                                 // the partial file not kept)
constexpr uint32_t kTaskOptionDigest = 0x4;      // kind 1: `sha256` is the file's signed digest:
                                                 // it vouches for a partial file of an earlier
                                                 // start that has no strong validator
constexpr uint32_t kTaskOptionReportFile = 0x8;  // kind 1: send a 1089 record before the end
constexpr uint32_t kTaskOptionsKnown = 0xF;

#pragma pack(push, 1)
struct DownloadTaskOptions {
  uint32_t structSize;  // 0: sizeof(DownloadTaskOptions) as the caller knows it
  uint32_t flags;       // 4: kTaskOption*
  int64_t size;         // 8: with kTaskOptionSizeLimit
  uint8_t sha256[32];   // 16: with kTaskOptionDigest
};
#pragma pack(pop)
static_assert(sizeof(DownloadTaskOptions) == 48, "DownloadTaskOptions is 48 bytes in both builds");
static_assert(offsetof(DownloadTaskOptions, size) == 8, "layout");
static_assert(offsetof(DownloadTaskOptions, sha256) == 16, "layout");

class IDownloadService {
 public:
  // Ends the service: cancels running tasks, waits for its threads, frees it.
  virtual void LUMORA_STDCALL Release() = 0;
  // Starts a task of `kind` that reports to `window`; the task id, or 0 when
  // the task could not be started (bad kind, no record, no URL, a text without
  // its terminator, no or no longer a window, a download without a file name,
  // a folder or file name that is not code page 936 text, or the service is
  // being released). Nothing starts and nothing is reported for a refused task.
  virtual uint32_t LUMORA_STDCALL CreateTask(uint32_t kind, const DownloadTaskParams* params,
                                             HWND window) = 0;

 protected:
  ~IDownloadService() = default;
};

// The export "CreateDownloadService" (exported under that plain name, also in
// the 32-bit build): the service for this interface identifier and version,
// or null for any other.
typedef IDownloadService*(LUMORA_STDCALL* CreateDownloadServiceFn)(const GUID* iid,
                                                                  uint32_t version);

// The export "DownloadCreateTaskWithOptions": CreateTask of `service` (an
// interface this library created and has not released) with options; null
// options, or options of a size this library does not know, are refused
// (0). Unknown flags are refused too, so a client never believes an option
// holds that does not.
constexpr char kCreateTaskWithOptionsName[] = "DownloadCreateTaskWithOptions";
typedef uint32_t(LUMORA_STDCALL* CreateTaskWithOptionsFn)(IDownloadService* service, uint32_t kind,
                                                         const DownloadTaskParams* params,
                                                         HWND window,
                                                         const DownloadTaskOptions* options);
