#include "ui_test_support.h"

#include <windows.h>

#include "launcher_module.h"
#include "operation_engine.h"
#include "test_support.h"

namespace ui_test {

namespace {
std::vector<Json::Value> g_caught;
void Catch(const std::string&, Json::Value call) { g_caught.push_back(call); }
}  // namespace

void Probe(const std::vector<std::string>& ops) {
  UnregisterAll(kLauncherModule);
  PumpModule(kLauncherModule, 1000);  // drop what is queued
  g_caught.clear();
  for (const std::string& op : ops) RegisterOperation(kLauncherModule, op, Catch);
}

std::vector<Json::Value> Caught() {
  for (int i = 0; i < 3; ++i) PumpModule(kLauncherModule, 1000);
  std::vector<Json::Value> caught;
  caught.swap(g_caught);
  return caught;
}

bool WriteText(const std::string& path, const std::string& text) {
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c >= 0x81 && c <= 0xFE) {  // a double-byte character: its second byte is no separator
      ++i;
      continue;
    }
    if (c == '\\' && i > 2) CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
  return testing_support::WriteFileBytes(path, text);
}

}  // namespace ui_test
