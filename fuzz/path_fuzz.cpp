// The path rules: canonicalising is idempotent, keeps a relative path
// relative (and an absolute one absolute) and never ends inside a double-byte
// character; the parts of a path put together give it back; the updater's
// resolution against a base folder always gives an absolute path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "code_page.h"
#include "fuzz_check.h"
#include "path_util.h"
#include "updater_chain.h"
#include "updater_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string shown = fuzz::Shown(path);

  const std::string once = CanonicalizePath(path);
  FUZZ_CHECK(CanonicalizePath(once) == once, shown + " -> " + fuzz::Shown(once));
  FUZZ_CHECK(IsRelativePath(once) == IsRelativePath(path), shown + " -> " + fuzz::Shown(once));
  if (!cp936::EndsInsideChar(path))
    FUZZ_CHECK(!cp936::EndsInsideChar(once), shown + " -> " + fuzz::Shown(once));
  FUZZ_CHECK(once.size() <= path.size() + 2, shown);  // at most a ".\" more

  // Folder and name put together give the path again (roots aside).
  const std::string folder = ParentFolder(path);
  const std::string name = FileNamePart(path);
  FUZZ_CHECK(path.size() >= name.size() &&
                 path.compare(path.size() - name.size(), name.size(), name) == 0,
             shown);
  if (!folder.empty() && !EndsWithSeparator(folder))
    FUZZ_CHECK(folder.size() + 1 + name.size() == path.size(), shown);

  // The updater resolves a path against its program folder, here one whose
  // name ends in 0x5C as a character's second byte ("C:\游戏淺").
  const std::string base = "C:\\\xd3\xce\xcf\xb7\x9c\x5c";
  std::string resolved;
  if (ResolvePath(path, base, resolved)) {
    FUZZ_CHECK(!IsRelativePath(resolved), shown + " -> " + fuzz::Shown(resolved));
    FUZZ_CHECK(resolved.size() < kPathBufferSize, shown);
    if (IsRelativePath(path) && path.find("..") == std::string::npos)
      FUZZ_CHECK(resolved.compare(0, base.size() + 1, base + "\\") == 0,
                 shown + " -> " + fuzz::Shown(resolved));
  }
  const std::string joined = JoinPath(base, path);
  FUZZ_CHECK(joined.compare(0, base.size() + 1, base + "\\") == 0, shown);

  // The installer log is named after the last part, whole characters only.
  const std::string stem = InstallerLogStem(path);
  FUZZ_CHECK(path.find(stem) != std::string::npos, shown);
  if (!cp936::EndsInsideChar(path)) FUZZ_CHECK(!cp936::EndsInsideChar(stem), shown);
  return 0;
}
