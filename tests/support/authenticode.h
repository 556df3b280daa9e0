// Windows' own check of a file's Authenticode signature, for the tests of
// what ships signed.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

// WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI, no revocation
// check: a test root publishes no revocation lists) of a file: ERROR_SUCCESS,
// TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, ... Under Wine it shows that the
// bytes are signed and unchanged, not who signed them.
LONG VerifyTrust(const std::string& path);

}  // namespace testing_support
