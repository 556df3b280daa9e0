// What a build with keys adds to the configuration check, beyond the
// signatures: the rules of launcher/trust (never back, bound together, fresh,
// https only) applied to the configuration endpoint's replies and to the
// configuration data, and the stored configuration kept with its signed bytes
// and signature and verified again at every start. A build without keys uses
// none of this and stores exactly what the design stores.
//
// Records (keyed builds only):
//   "CFG_ConfigData"      the configuration data's bytes exactly as signed
//   "CFG_ConfigSignature" {"signature": the header that came with them}
//   "CFG_Trust"           {"configVersion": the newest configuration version
//                          verified, "issued": the newest issue time verified}
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "document_role.h"

// At every start (keyed builds): verifies the stored configuration. One that
// fails (logged) counts as none, so it is loaded again.
void VerifyStoredConfig();

// The configuration data the component checks and the hall start read: with
// keys the copy verified at the start or just loaded (null when none),
// without keys the stored record as it is.
Json::Value StoredConfigData();

// The stored configuration version that counts: with keys the verified one
// (0 when none), without keys "version" of "CFG_ConfigInfo".
int32_t CountedConfigVersion();

// The checks of a configuration endpoint's reply after its signature (signed
// as `kind`) and before any of its calls run. False: logged, and `message`
// holds the first line of the message to show.
bool AcceptEndpointReply(const Json::Value& reply, trust::DocumentRole kind,
                         std::string& message);

// The checks of loaded configuration data (`text`, parsed as `data`) against
// what the reply said (carried by the "ConfigLoaded" call). False: logged.
bool AcceptConfigData(const std::string& text, const Json::Value& data, const Json::Value& call);

// Stores configuration data that passed every check: its exact bytes and
// signature, and the version as the newest verified one.
void StoreVerifiedConfig(const std::string& text, const std::string& signature,
                         const Json::Value& data, int32_t version);
