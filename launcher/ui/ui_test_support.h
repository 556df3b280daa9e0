// Shared by the user-interface tests: calls the launcher posts to its module
// are caught by probe handlers and collected in order.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace ui_test {

// Registers a probe for each of `ops` on the launcher's module (after
// removing every handler), and forgets what earlier probes caught.
void Probe(const std::vector<std::string>& ops);
// Runs the queued calls (twice, so calls posted by calls run too) and gives
// what the probes caught since the last Probe/Caught.
std::vector<Json::Value> Caught();

// Writes a text file (UTF-8 for scripts), making its folders.
bool WriteText(const std::string& path, const std::string& text);

}  // namespace ui_test
