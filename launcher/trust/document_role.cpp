#include "document_role.h"

namespace trust {

const char* RoleName(DocumentRole role) {
  switch (role) {
    case DocumentRole::ConfigReply:
      return "config-reply";
    case DocumentRole::ConfigData:
      return "config-data";
    case DocumentRole::LauncherUpdate:
      return "launcher-update";
    case DocumentRole::CallAnswer:
      return "call-answer";
  }
  return "?";
}

bool RoleFromName(const std::string& name, DocumentRole& role) {
  for (DocumentRole candidate : kAllRoles) {
    if (name == RoleName(candidate)) {
      role = candidate;
      return true;
    }
  }
  return false;
}

const char* RoleText(DocumentRole role) {
  switch (role) {
    case DocumentRole::ConfigReply:
      return "配置应答";
    case DocumentRole::ConfigData:
      return "配置数据";
    case DocumentRole::LauncherUpdate:
      return "启动器更新应答";
    case DocumentRole::CallAnswer:
      return "操作应答";
  }
  return "?";
}

std::string RolePrefix(DocumentRole role) { return std::string("LUMORA/1 ") + RoleName(role) + "\n"; }

std::string SignedBytes(DocumentRole role, const std::string& body) {
  return RolePrefix(role) + body;
}

}  // namespace trust
