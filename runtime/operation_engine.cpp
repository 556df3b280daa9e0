#include "operation_engine.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>

#include "json_util.h"
#include "log_file.h"
#include "param_envelope.h"

namespace {

std::mutex g_registryLock;
std::map<std::string, std::unique_ptr<OperationModule>>& Registry() {
  static std::map<std::string, std::unique_ptr<OperationModule>> registry;
  return registry;
}

std::atomic<int32_t> g_opsignSeq{1};

// Parses `text` as an envelope first, then as plain JSON.
bool ParseCallText(const std::string& text, Json::Value& out) {
  ParamEnvelope envelope;
  if (envelope.Decode(text)) {
    Json::Value inner;
    if (rt::ParseJson(envelope.Payload(), inner) && !inner.empty()) {
      out.swap(inner);
      return true;
    }
  }
  return rt::ParseJson(text, out);
}

bool IsCall(const Json::Value& value) {
  return value.isObject() && value.isMember("op") && value["op"].isString();
}

void ReportFault(const std::string& op, const char* what, const std::string& text) {
  std::string message = "执行操作[" + op + "]错误!错误信息:" + (what ? what : "") +
                        "\r\nJson数据:" + text;
  ShowError(message.c_str());
}

}  // namespace

bool OperationModule::Append(PendingCall call) {
  std::unique_lock<std::mutex> hold(incomingLock_, std::try_to_lock);
  if (!hold.owns_lock()) return false;
  incoming_.push_back(std::move(call));
  return true;
}

bool OperationModule::Register(const std::string& op, OperationHandler handler) {
  std::unique_lock<TryMutex> hold(handlerLock_, std::try_to_lock);
  if (!hold.owns_lock()) return false;
  std::vector<OperationHandler>& list = handlers_[op];
  for (OperationHandler h : list)
    if (h == handler) return false;
  list.push_back(handler);
  return true;
}

size_t OperationModule::HandlerCount(const std::string& op) {
  std::lock_guard<TryMutex> hold(handlerLock_);
  auto it = handlers_.find(op);
  return it == handlers_.end() ? 0 : it->second.size();
}

void OperationModule::UnregisterAll() {
  std::lock_guard<TryMutex> hold(handlerLock_);
  handlers_.clear();
}

size_t OperationModule::PendingCount() {
  std::lock_guard<std::mutex> a(incomingLock_);
  std::lock_guard<std::mutex> b(runQueueLock_);
  return incoming_.size() + runQueue_.size();
}

void OperationModule::Pump(uint32_t budgetMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point last = Clock::now();
  {
    std::lock_guard<std::mutex> in(incomingLock_);
    std::lock_guard<std::mutex> run(runQueueLock_);
    while (!incoming_.empty()) {
      runQueue_.push_back(std::move(incoming_.front()));
      incoming_.pop_front();
    }
  }
  // A pump further up the stack (a handler inside a modal loop) holds this.
  std::unique_lock<TryMutex> running(runLock_, std::try_to_lock);
  if (!running.owns_lock() || budgetMs == 0) return;

  const auto budget = std::chrono::milliseconds(budgetMs);
  Clock::duration elapsed{};
  for (;;) {
    PendingCall call;
    {
      std::lock_guard<std::mutex> run(runQueueLock_);
      if (runQueue_.empty()) break;
      call = std::move(runQueue_.front());
      runQueue_.pop_front();
    }
    Run(call);
    const Clock::time_point now = Clock::now();
    elapsed += now - last;
    last = now;
    if (elapsed >= budget) break;
  }
}

void OperationModule::Run(const PendingCall& call) {
  std::vector<OperationHandler> list;
  {
    std::unique_lock<TryMutex> hold(handlerLock_, std::try_to_lock);
    if (!hold.owns_lock()) return;  // busy: the call is dropped
    auto it = handlers_.find(call.op);
    if (it == handlers_.end()) return;
    list = it->second;
  }
  for (OperationHandler handler : list) {
    Json::Value value;
    if (!rt::ParseJson(call.text, value) || !value.isObject()) continue;
    // No exception may leave here: the pump runs inside a window procedure.
    try {
      handler(call.op, std::move(value));
    } catch (const char* text) {
      ReportFault(call.op, text, call.text);
      return;
    } catch (const std::exception& e) {
      ReportFault(call.op, e.what(), call.text);
      return;
    } catch (...) {
      ReportFault(call.op, "未知异常", call.text);
      return;
    }
  }
}

OperationModule& GetModule(const std::string& module) {
  std::lock_guard<std::mutex> hold(g_registryLock);
  std::unique_ptr<OperationModule>& slot = Registry()[module];
  if (!slot) slot = std::make_unique<OperationModule>(module);
  return *slot;
}

bool RegisterOperation(const std::string& module, const std::string& op,
                       OperationHandler handler) {
  if (handler == nullptr) return false;
  return GetModule(module).Register(op, handler);
}

bool UnregisterAll(const std::string& module) {
  GetModule(module).UnregisterAll();
  return true;
}

bool PostCall(const std::string& module, const std::string& text) {
  Json::Value value;
  if (!ParseCallText(text, value)) return false;
  OperationModule& target = GetModule(module);
  if (value.isArray()) {
    bool queued = false;
    for (Json::Value element : value) {
      if (element.isString()) {
        ParamEnvelope envelope;
        if (envelope.Decode(element.asString())) {
          Json::Value inner;
          element = rt::ParseJson(envelope.Payload(), inner) ? inner : Json::Value();
        }
      }
      if (!IsCall(element)) continue;
      if (target.Append({element["op"].asString(), rt::StyledText(element)})) queued = true;
    }
    return queued;
  }
  if (!IsCall(value)) return false;
  return target.Append({value["op"].asString(), rt::StyledText(value)});
}

bool PostOperation(const std::string& module, const std::string& op) {
  Json::Value call(Json::objectValue);
  call["op"] = op;
  return PostCall(module, rt::StyledText(call));
}

bool PumpModule(const std::string& module, uint32_t budgetMs) {
  GetModule(module).Pump(budgetMs);
  return true;
}

int32_t TakeOpsign() { return g_opsignSeq.fetch_add(1); }

bool PostThen(const std::string& module, const Json::Value& call, const Json::Value& result) {
  const Json::Value* then = rt::FindMember(call, "then");
  if (then == nullptr || !rt::IsNonEmptyObject(*then)) return false;
  Json::Value next = *then;
  if (!result.isNull()) next["result"] = result;
  return PostCall(module, rt::StyledText(next));
}

Json::Value StatusResult(bool ok) {
  Json::Value result(Json::objectValue);
  result["status"] = ok;
  return result;
}

Json::Value ErrorResult(int32_t error) {
  Json::Value result(Json::objectValue);
  result["status"] = error == 0;
  result["error"] = error;
  return result;
}
