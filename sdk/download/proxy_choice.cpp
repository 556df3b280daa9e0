#include "proxy_choice.h"

#include <winhttp.h>

namespace download {

ProxyChoice ChooseProxy(const InternetProxySettings& settings) {
  ProxyChoice choice;
  if (!settings.autoConfigUrl.empty()) {
    choice.useAutoProxy = true;
    choice.autoFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    choice.autoConfigUrl = settings.autoConfigUrl;
  }
  if (settings.autoDetect) {
    choice.useAutoProxy = true;
    choice.autoFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    choice.autoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  choice.proxy = settings.proxy;
  if (!choice.proxy.empty()) choice.bypass = settings.bypass;
  return choice;
}

}  // namespace download
