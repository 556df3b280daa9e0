#include "updater_commands.h"

#include "code_page.h"
#include "path_util.h"

namespace {

bool FitsIn(const std::string& text, size_t bufferSize) {
  return text.size() < bufferSize && text.find('\0') == std::string::npos;
}

}  // namespace

bool CanonicalPath(const std::string& text, std::string& out) {
  if (!FitsIn(text, kPathBufferSize)) return false;
  std::string canonical = CanonicalizePath(text);
  if (!FitsIn(canonical, kPathBufferSize)) return false;
  out.swap(canonical);
  return true;
}

bool ResolvePath(const std::string& text, const std::string& base, std::string& out) {
  std::string canonical;
  if (!CanonicalPath(text, canonical)) return false;
  // Joined to its base, a leading ".." climbs into the base, so the joined
  // path is canonicalised again.
  std::string resolved =
      IsRelativePath(canonical) ? CanonicalizePath(JoinPath(base, canonical)) : canonical;
  if (!FitsIn(resolved, kPathBufferSize)) return false;
  out.swap(resolved);
  return true;
}

std::string WithTrailingBackslash(const std::string& path) {
  if (cp936::EndsWithOneOf(path, "\\")) return path;
  return path + "\\";
}

bool FormatInstallCommand(const std::string& package, const std::string& dir,
                          const std::string& log, std::string& out) {
  std::string command = "\"" + package + "\" /SILENT, /VERYSILENT /DIR=\"" + dir + "\"";
  if (!log.empty()) command += " /LOG=\"" + log + "\"";
  if (!FitsIn(command, kPathBufferSize)) return false;
  out.swap(command);
  return true;
}

bool FormatOpenCommand(const std::string& target, const std::string& params, std::string& out) {
  std::string command = "\"" + target + "\"";
  if (!params.empty()) command += " " + params;
  if (!FitsIn(command, kPathBufferSize)) return false;
  out.swap(command);
  return true;
}

bool FormatStartProcessCommand(const std::string& folder, const std::string& name,
                               const std::string& params, std::string& out) {
  std::string command = folder + "\\" + name + " " + params;
  if (!FitsIn(command, kCommandLineBufferSize)) return false;
  out.swap(command);
  return true;
}
