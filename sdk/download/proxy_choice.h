// Which proxy a request uses where WinHTTP cannot decide it by itself
// (Windows 7 has no automatic proxy access type): from the user's Internet
// settings, a proxy auto-configuration (detected or at a given address), a
// named proxy with its bypass list, or a direct connection.
#pragma once

#include <windows.h>

#include <string>

namespace download {

// The user's Internet settings as WinHttpGetIEProxyConfigForCurrentUser
// reports them (null texts as empty).
struct InternetProxySettings {
  bool autoDetect = false;
  std::wstring autoConfigUrl;
  std::wstring proxy;
  std::wstring bypass;
};

struct ProxyChoice {
  // Ask WinHttpGetProxyForUrl first (with these flags and address).
  bool useAutoProxy = false;
  DWORD autoFlags = 0;             // WINHTTP_AUTOPROXY_* flags
  DWORD autoDetectFlags = 0;       // WINHTTP_AUTO_DETECT_TYPE_* flags
  std::wstring autoConfigUrl;
  // Otherwise (or when the automatic answer fails) this proxy, or none.
  std::wstring proxy;
  std::wstring bypass;
};

ProxyChoice ChooseProxy(const InternetProxySettings& settings);

}  // namespace download
