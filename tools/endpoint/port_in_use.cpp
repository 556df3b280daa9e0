// Who holds a loopback port, as far as the system tells: the listeners'
// table with their process ids (iphlpapi), and the process's program name.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <string>
#include <vector>

#include "loopback_endpoint.h"
#include "scoped_handle.h"

namespace endpoint {

namespace {

// The process listening on `port` of 127.0.0.1 or of every address; 0 when
// the system does not tell.
DWORD ListenerProcess(uint16_t port) {
  std::vector<char> table;
  DWORD size = 0;
  DWORD status = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    table.resize(size);
    status = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, AF_INET,
                                 TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (status != NO_ERROR || table.empty()) return 0;
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    const DWORD address = ntohl(row.dwLocalAddr);
    if (ntohs(static_cast<u_short>(row.dwLocalPort)) == port &&
        (address == INADDR_LOOPBACK || address == INADDR_ANY)) {
      return row.dwOwningPid;
    }
  }
  return 0;
}

std::string ProgramOf(DWORD processId) {
  ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process.IsValid()) return std::string();
  char path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!QueryFullProcessImageNameA(process.Get(), 0, path, &length)) return std::string();
  return std::string(path, length);
}

}  // namespace

std::string PortInUse(uint16_t port) {
  std::string text = "port " + std::to_string(port) + " on 127.0.0.1 is in use";
  const DWORD holder = ListenerProcess(port);
  if (holder != 0) {
    const std::string program = ProgramOf(holder);
    text += " by " + (program.empty() ? std::string("process ") : program + ", process ") +
            std::to_string(holder);
  } else {
    text += " by another program";
  }
  return text;
}

}  // namespace endpoint
