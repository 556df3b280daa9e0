#include "message_layout.h"

namespace {
// Far beyond any screen, small enough that every sum below fits an int.
constexpr long long kMaxExtent = 1 << 20;

LONG Clamp(long long v) {
  if (v < 0) return 0;
  return static_cast<LONG>(v > kMaxExtent ? kMaxExtent : v);
}
}  // namespace

SIZE MeasureLine(HDC dc, const std::string& line) {
  SIZE size{};
  if (line.empty()) {
    // An empty line is as tall as any other; some systems report no height
    // for zero characters, so take the height of a blank and no width.
    if (GetTextExtentPoint32A(dc, " ", 1, &size)) size.cx = 0;
    return size;
  }
  // Lines longer than an int can count are measured by their first part.
  const int count = line.size() > 0x7FFFFFF ? 0x7FFFFFF : static_cast<int>(line.size());
  if (!GetTextExtentPoint32A(dc, line.c_str(), count, &size)) size = SIZE{};
  return size;
}

std::vector<std::string> SplitMessageLines(const std::string& message) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : message) {
    if (c == '\n' || c == '\r') {
      lines.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  lines.push_back(current);
  return lines;
}

MessageLayout ComputeMessageLayout(long long width, long long height) {
  const LONG w = Clamp(width);
  const LONG h = Clamp(height);
  MessageLayout layout{};
  layout.text = {15, 25, w, h};
  layout.button = {(w - 60) / 2, h + 35, 90, 30};
  layout.dialog = {w + 30, h + 110};
  return layout;
}
