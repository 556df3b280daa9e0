// Files of the publishing tool's site and check: whole files in and out,
// folders made as needed.
#pragma once

#include <string>

namespace site {

bool ReadWholeFile(const std::string& path, std::string& bytes);
// Writes `bytes` to `path`, making its folders; false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// "folder/name" with one slash between.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace site
