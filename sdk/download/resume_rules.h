// The rules for carrying on a download that broke: how a partial file is
// named and described so that a later attempt (of this task or of a later
// start) can carry on with it, when an answer to a range request may be
// appended, and how long to wait between attempts. Pure functions.
//
// A file download writes to "<name>.<key>.part" beside the final name, where
// the key comes from the address, and describes it in "<part>.info" (the
// address, the total size and the server's validator). When the transfer
// breaks after bytes arrived, it asks again for the rest ("Range: bytes=N-",
// with the validator as "If-Range") and appends only an answer that is the
// rest of the same file: 206 with "Content-Range: bytes N-.../<total>" of
// the same total. Any other answer starts the file again from zero.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace download {

// Attempts to carry on after a break within one task, and the pause before
// each (milliseconds): 0.5, 1, 2, 4 and 8 seconds, about 15 s in all.
constexpr int kResumeAttempts = 5;
DWORD ResumePauseMs(int attempt);  // attempt 1..kResumeAttempts

// Data loads that failed before any answer began (no connection, a name not
// resolved, the connection reset or closed before the response) are sent
// again this many times, after 1 and 2 s.
constexpr int kLoadRetries = 2;
DWORD LoadRetryPauseMs(int retry);  // retry 1..kLoadRetries

// Whether a failed data load may be sent again: only a failure in transport
// before any answer began; never after a time-out (the server may still be
// working on it, and the wait would be three times as long), never once an
// answer began (a status, a body cut short), never a load that is sent once
// (a request that counts something on the server), never a refused TLS
// connection.
bool MayRetryLoad(bool sendOnce, bool brokenInTransport, bool answered, bool timedOut);

// "Content-Range" of a 206 ("bytes <first>-<last>/<total>") or of a 416
// ("bytes */<total>"); the total may be "*" (unknown: -1).
struct ContentRange {
  bool unsatisfied = false;  // "bytes */<total>"
  int64_t first = -1;
  int64_t last = -1;
  int64_t total = -1;
};
bool ParseContentRange(const std::wstring& text, ContentRange& range);

// What to make of the answer to a request for the bytes from `from` on.
enum class RangeAnswer {
  Append,   // 206 with the rest of the same file: append to what is there
  Restart,  // 200: the whole file follows; write it from zero
  Refetch,  // anything else: ask again for the whole file
};
// `expectedTotal` is the total known from before (-1: unknown, then any
// total is taken).
RangeAnswer JudgeRangeAnswer(DWORD status, const std::wstring& contentRange, int64_t from,
                             int64_t expectedTotal);

// The partial file's name beside `name` for `url`: "<name>.<16 hex>.part",
// or "~download.<16 hex>.part" when that would be longer than a file name may
// be (255 characters). The same address gives the same name in every start.
std::wstring PartName(const std::wstring& name, const std::string& url);
std::wstring PartInfoName(const std::wstring& partName);

// What is known about a partial file.
struct PartInfo {
  std::string url;
  int64_t total = -1;          // the whole file's size; -1 unknown
  std::string etag;            // the server's ETag, as sent
  std::string lastModified;    // its Last-Modified, as sent
  std::string sha256;          // the signed digest the task had (64 hex digits), or empty
};
// "<key>=<value>" lines (url, total, etag, modified, sha256); values without
// line breaks; an older description without sha256 reads as one without a
// digest. Parse is false for a text that is not such a description.
std::string PartInfoText(const PartInfo& info);
bool ParsePartInfo(const std::string& text, PartInfo& info);

// The "If-Range" value: a strong ETag, else the Last-Modified date; empty
// when there is neither (a weak ETag cannot vouch for the bytes).
std::string IfRangeValue(const PartInfo& info);

// Whether `partSize` bytes described by `info` can be carried on for `url`
// within one task: the same address, bytes there and fewer than the total,
// and something that vouches for them (a validator, or at least the total).
bool CanResume(const PartInfo& info, const std::string& url, int64_t partSize);

// Whether a partial file of an earlier start (or one left for a later start)
// can be carried on by a task for `url` whose signed digest is `signedDigest`
// (hex, empty when it has none) and signed size `signedSize` (-1: none): as
// CanResume, and vouched for by a strong validator (a strong ETag or
// Last-Modified, sent back as If-Range), or by the same signed digest, which
// the finished file is then checked against. The total alone does not do:
// a file published again at the same address with the same size would be
// joined from two files. A total other than the signed size never does.
bool CanCarryOver(const PartInfo& info, const std::string& url, int64_t partSize,
                  const std::string& signedDigest, int64_t signedSize);

}  // namespace download
