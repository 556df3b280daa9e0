// Test helper: creates a hidden top-level window of the class given as its
// first argument and runs a message loop until the window is closed or the
// optional second argument's milliseconds have passed (default 60000).
// Received WM_COPYDATA payloads are appended to the file named by the
// optional third argument, one record per line: "<dwData>:<bytes>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* g_record = nullptr;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (g_record && data) {
        if (FILE* f = std::fopen(g_record, "ab")) {
          std::fprintf(f, "%lu:", static_cast<unsigned long>(data->dwData));
          if (data->lpData && data->cbData) std::fwrite(data->lpData, 1, data->cbData, f);
          std::fputc('\n', f);
          std::fclose(f);
        }
      }
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const DWORD lifetime = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 60000;
  g_record = argc > 3 ? argv[3] : nullptr;
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = argv[1];
  if (!RegisterClassA(&wc)) return 3;
  HWND hwnd = CreateWindowExA(WS_EX_TOOLWINDOW, argv[1], "", WS_OVERLAPPED, 0, 0, 10, 10,
                              nullptr, nullptr, wc.hInstance, nullptr);
  if (!hwnd) return 4;
  SetTimer(hwnd, 1, lifetime, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == hwnd) DestroyWindow(hwnd);
    DispatchMessageA(&msg);
  }
  return 0;
}
