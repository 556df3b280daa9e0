// Checking a downloaded package before the updater runs it: the SHA-256
// ("sha256", 64 hex digits) and the size ("size", a JSON integer) that the
// configuration data's "platform" and "info" entries and the launcher-update
// reply may carry. A package that does not match is removed and never run.
// With keys built in (config_keys.h) a package without "sha256" is refused;
// without keys a package without one is taken as the design has it.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "scoped_handle.h"
#include "trust_text.h"

struct PackageExpectation {
  bool hasDigest = false;
  trust::Digest digest{};
  bool hasSize = false;
  int64_t size = 0;
  bool malformed = false;  // "sha256" or "size" given, but not in its form
};

// The expectation of a package entry (any JSON value; members of another
// type than theirs make it malformed, absent ones are simply not expected).
PackageExpectation ExpectedPackage(const Json::Value& entry);

// Copies "sha256" and "size" of `entry`, as they stand, into `call` (the
// continuation of the package's download), so the check sees what the
// signed configuration said.
void CarryPackageExpectation(const Json::Value& entry, Json::Value& call);

enum class PackageVerdict {
  NotChecked,  // nothing expected and nothing required: the design's behaviour
  Accepted,    // size and digest match
  Refused,     // removed; the component's download has failed
};

struct PackageCheck {
  PackageVerdict verdict = PackageVerdict::NotChecked;
  std::string logLine;  // what the launcher logs (empty for NotChecked)
  // An accepted package stays open, shared for reading only, until this is
  // dropped: nobody can change it between the check and the updater's run.
  ScopedHandle hold;
};

// Checks the file at `path`. `digestRequired`: a package without "sha256" is
// refused (a build with keys).
PackageCheck CheckDownloadedPackage(const std::string& path, const PackageExpectation& expected,
                                    bool digestRequired);
