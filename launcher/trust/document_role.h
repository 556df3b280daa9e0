// What kind of document a signature vouches for. The operator signs each
// document as one kind: the signature covers a line naming the kind,
// "LUMORA/1 <kind>\n", followed by the document's exact bytes, so a document
// signed as one kind never verifies as another (a configuration reply served
// as the configuration data, an operation-call answer served as a reply).
// By hand, with the OpenSSL command line:
//   { printf 'LUMORA/1 config-data\n'; cat config.json; } |
//     openssl dgst -sha256 -sign config-signing.key -out config.der
#pragma once

#include <cstddef>
#include <string>

namespace trust {

enum class DocumentRole {
  ConfigReply,     // the configuration endpoint's reply with code 1
  ConfigData,      // the configuration data a code-1 reply names
  LauncherUpdate,  // the configuration endpoint's reply with code 2
  CallAnswer,      // a reply the launcher runs as an operation call
};

constexpr DocumentRole kAllRoles[] = {DocumentRole::ConfigReply, DocumentRole::ConfigData,
                                      DocumentRole::LauncherUpdate, DocumentRole::CallAnswer};

// The kind's name in the signed line: "config-reply", "config-data",
// "launcher-update", "call-answer".
const char* RoleName(DocumentRole role);
// The kind of a name; false for any other text.
bool RoleFromName(const std::string& name, DocumentRole& role);
// What the launcher calls the kind in its log (code page 936).
const char* RoleText(DocumentRole role);

// The line a signature of this kind covers before the document's bytes.
std::string RolePrefix(DocumentRole role);
// Everything a signature of this kind covers: the prefix, then `body`.
std::string SignedBytes(DocumentRole role, const std::string& body);

}  // namespace trust
