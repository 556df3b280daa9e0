// The public keys the build carries for the operator's signatures (the CMake
// setting LUMORA_CONFIG_PUBLIC_KEY: one or more PEM files, turned into X||Y at
// configure time). A build without keys verifies nothing, as the design has
// it; a build with keys accepts the configuration reply, the configuration
// data and replies run as operation calls only with a valid signature, and
// installs only packages whose SHA-256 is given and matches.
#pragma once

#include <vector>

#include "trust_text.h"

const std::vector<trust::PublicPoint>& ConfigKeys();
inline bool RepliesMustBeSigned() { return !ConfigKeys().empty(); }
