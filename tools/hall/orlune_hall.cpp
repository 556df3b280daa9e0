// Orlune.exe, a stand-in for the game hall (not part of the product). It takes
// its parameter text (enveloped or plain JSON) as its whole command-line tail,
// creates a top-level window of the class named by "plaza", shows itself when
// asked with WM_SHOWWINDOW 1, and ends on WM_CLOSE or after "lifetime"
// milliseconds (a member of the parameters; 30 s by default).
//
// For tests and the demo it records what it received in
// "Orlune.received.json" beside itself (written aside, then renamed):
//   {"tail": ..., "enveloped": bool, "payload": ..., "plaza": ..., "shown": n}
#include <windows.h>

#include <string>

#include "command_tail.h"
#include "json_util.h"
#include "param_envelope.h"
#include "path_util.h"

namespace {

struct Hall {
  std::string tail;
  std::string payload;
  bool enveloped = false;
  std::string plaza;
  int shown = 0;
  UINT lifetimeMs = 30000;
  HWND window = nullptr;
};
Hall g_hall;

void Record() {
  Json::Value record(Json::objectValue);
  record["tail"] = g_hall.tail;
  record["enveloped"] = g_hall.enveloped;
  record["payload"] = g_hall.payload;
  record["plaza"] = g_hall.plaza;
  record["shown"] = g_hall.shown;
  const std::string text = rt::StyledText(record);
  const std::string folder = ProgramFolder();
  const std::string aside = JoinPath(folder, "Orlune.received.tmp");
  const std::string final = JoinPath(folder, "Orlune.received.json");
  HANDLE f = CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
  MoveFileExA(aside.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK HallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      DestroyWindow(hwnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      const char text[] = "Orlune 游戏大厅 (demo)";
      TextOutA(dc, 20, 20, text, static_cast<int>(sizeof text - 1));
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_hall.tail = ProgramArguments();
  ParamEnvelope envelope;
  g_hall.enveloped = envelope.Decode(g_hall.tail);
  g_hall.payload = g_hall.enveloped ? envelope.Payload() : g_hall.tail;
  Json::Value params;
  if (rt::ParseJson(g_hall.payload, params) && params.isObject()) {
    g_hall.plaza = rt::StringMember(params, "plaza");
    int32_t lifetime = 0;
    if (rt::ReadInt(params, "lifetime", lifetime) && lifetime > 0)
      g_hall.lifetimeMs = static_cast<UINT>(lifetime);
  }
  const std::string className = g_hall.plaza.empty() ? "QZ_Orlune_Demo" : g_hall.plaza;
  WNDCLASSA wc{};
  wc.lpfnWndProc = HallProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className.c_str();
  if (!RegisterClassA(&wc)) return 3;
  g_hall.window = CreateWindowExA(0, className.c_str(), "Orlune", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, nullptr, nullptr,
                                  instance, nullptr);
  if (!g_hall.window) return 4;
  ShowWindow(g_hall.window, SW_SHOWNORMAL);
  Record();
  SetTimer(g_hall.window, 1, g_hall.lifetimeMs, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    // A posted WM_SHOWWINDOW 1 is a request to show (a launcher giving way);
    // the system's own, sent while a window is shown, never passes here.
    if (msg.message == WM_SHOWWINDOW && msg.hwnd == g_hall.window && msg.wParam == 1) {
      ++g_hall.shown;
      ShowWindow(g_hall.window, SW_SHOWNORMAL);
      SetForegroundWindow(g_hall.window);
      Record();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
