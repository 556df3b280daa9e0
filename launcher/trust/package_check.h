// Checking a downloaded package before the updater runs it: the SHA-256
// ("sha256", 64 hex digits) and the size ("size", a JSON integer) that the
// configuration data's "platform" and "info" entries and the launcher-update
// reply may carry.
//
// With keys built in (config_keys.h) a package without "sha256", with a
// member out of its form, or that does not match, is removed and never run.
// Without keys the design reads neither member and never deletes a package:
// a member out of its form is logged and ignored, a package without one is
// taken as the design has it, and one that does not match a well-formed
// member is refused (a corrupt download must not run) and set aside beside
// its name ("<package>.refused"), not deleted.
//
// The package is read once after it arrives, at most: when the download
// service took its digest while writing it and handed it over held (a
// WrittenPackage), nothing is read again.
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
  bool malformed = false;        // "sha256" or "size" given, but not in its form
  bool malformedDigest = false;  // which of them
  bool malformedSize = false;
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
  Refused,     // removed (with keys) or set aside (without); the download has failed
};

struct PackageCheck {
  PackageVerdict verdict = PackageVerdict::NotChecked;
  std::string note;     // logged first when not empty (a member ignored)
  std::string logLine;  // what the launcher logs (empty for NotChecked)
  // An accepted package stays open, shared for reading only, until this is
  // dropped: nobody can change it between the check and the updater's run.
  ScopedHandle hold;
};

// What the download service took of a package as it wrote it: the file's
// size and SHA-256, and a handle that has held it against writing and
// deletion since then.
struct WrittenPackage {
  ScopedHandle hold;
  int64_t size = 0;
  trust::Digest digest{};
};

// The name a refused package is set aside under (without keys).
std::string SetAsideName(const std::string& path);

// The rules a check follows.
enum class PackageRules {
  Design,             // no keys: members out of form ignored, a mismatch set aside
  Keys,               // keys, for what is checked only when given (an operator's download
                      // call): out of form or not matching is refused and removed
  KeysRequireDigest,  // keys, for the components and the launcher: a package without
                      // "sha256" is refused too
};
inline PackageRules ComponentRules(bool keys) {
  return keys ? PackageRules::KeysRequireDigest : PackageRules::Design;
}

// Checks the file at `path` by `rules`. `written`: what the service took of
// it (its hold moves into the result when accepted); null or without a hold,
// the file is read and hashed here.
PackageCheck CheckDownloadedPackage(const std::string& path, const PackageExpectation& expected,
                                    PackageRules rules, WrittenPackage* written = nullptr);
