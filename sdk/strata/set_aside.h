// Setting a damaged database file aside: it is renamed to
// "<file>.damaged-<yyyymmdd-hhmmss>" (with its rollback journal, if any), so
// that a fresh database can take its place, and only the newest few such
// copies are kept.
#pragma once

#include <string>
#include <vector>

namespace strata {

// How many set-aside copies of one database are kept.
constexpr size_t kSetAsideCopiesKept = 3;

// "<path>.damaged-<stamp>", with "-<n>" added for n > 1 (a second copy in
// the same second). `stamp` is "yyyymmdd-hhmmss".
std::string SetAsideName(const std::string& path, const std::string& stamp, int n);

// The copy number for a new copy made at `stamp`, given the names of the
// copies there are: one above every copy of that stamp, so that a new copy is
// never taken for an older one.
int NextCopyNumber(const std::vector<std::string>& names, const std::string& stamp);

// Of the file names of set-aside copies of one database (in any order, their
// journals left out), those to delete so that the newest `keep` remain.
std::vector<std::string> SetAsideCopiesToDelete(std::vector<std::string> names, size_t keep);

// Renames the file at `path` (and "<path>-journal") to a new set-aside name
// and deletes the oldest copies beyond kSetAsideCopiesKept. Returns the new
// name, or an empty text when the file could not be renamed.
std::string SetAsideDamagedFile(const std::string& path);

}  // namespace strata
