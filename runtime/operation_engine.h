// The operation engine: named handlers registered per module, calls posted as
// JSON text, queued, and run later on the main thread by PumpModule (driven
// from the main window's timer). An operation with a successor posts the call
// found in its "then" member when it has finished.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "try_mutex.h"

// A handler gets the operation name and its own copy of the call object.
// It reports a fault by throwing a text (a plain character string).
using OperationHandler = void (*)(const std::string& op, Json::Value call);

// A queued call: its operation name and the call re-written as styled text.
struct PendingCall {
  std::string op;
  std::string text;
};

class OperationModule {
 public:
  explicit OperationModule(std::string name) : name_(std::move(name)) {}
  OperationModule(const OperationModule&) = delete;
  OperationModule& operator=(const OperationModule&) = delete;

  const std::string& Name() const { return name_; }

  // Appends to the incoming queue without waiting; false when it is busy.
  bool Append(PendingCall call);
  bool Register(const std::string& op, OperationHandler handler);
  void UnregisterAll();
  void Pump(uint32_t budgetMs);

  // Number of calls waiting in either queue (for diagnostics and tests).
  size_t PendingCount();
  // Number of handlers registered for `op` (for diagnostics and tests).
  size_t HandlerCount(const std::string& op);

 private:
  void Run(const PendingCall& call);

  std::string name_;
  std::mutex incomingLock_;
  std::deque<PendingCall> incoming_;
  TryMutex runLock_;           // held for the whole run loop of a pump
  std::mutex runQueueLock_;    // guards the run queue's data only
  std::deque<PendingCall> runQueue_;
  TryMutex handlerLock_;
  std::map<std::string, std::vector<OperationHandler>> handlers_;
};

// The module of that name, created empty on first mention.
OperationModule& GetModule(const std::string& module);

bool RegisterOperation(const std::string& module, const std::string& op,
                       OperationHandler handler);
bool UnregisterAll(const std::string& module);

// Queues the call(s) in `text`: a call object, an array of them, or either in
// a parameter envelope (array elements may be envelopes too). True when at
// least one call was queued.
bool PostCall(const std::string& module, const std::string& text);
bool PostOperation(const std::string& module, const std::string& op);

// Moves waiting calls to the run queue and runs calls until `budgetMs` is used
// up (at least one when any waits). Runs nothing when a pump of this module is
// already running further up the stack. Always true.
bool PumpModule(const std::string& module, uint32_t budgetMs);

// The request tag counter: returns the current value and advances it.
int32_t TakeOpsign();

// The "then" convention: when `call` has a non-empty object "then", posts a
// copy of it to `module`, with `result` added as "result" unless `result` is
// null. Returns true when a successor was posted.
bool PostThen(const std::string& module, const Json::Value& call,
              const Json::Value& result = Json::Value());

// {"status": ok} and {"status": error == 0, "error": error}.
Json::Value StatusResult(bool ok);
Json::Value ErrorResult(int32_t error);
