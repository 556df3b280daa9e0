#include "msgbox_operation.h"

#include <windows.h>

#include "json_util.h"
#include "launcher_module.h"
#include "operation_engine.h"

void MsgBoxOperation(const std::string& op, Json::Value call) {
  const std::string text = rt::StringMember(call, "text");
  const std::string caption = rt::StringMember(call, "name", "消息");
  if (!text.empty()) MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
  PostThen(kLauncherModule, call);
}
