// How the message dialog sizes itself to its message, kept apart from the
// dialog so it can be checked without a window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Cuts the message into lines: every line feed and every carriage return
// ends a line, and the text after the last one is a line too. So "a\n\rb"
// gives "a", "", "b" and an empty message gives one empty line.
std::vector<std::string> SplitMessageLines(const std::string& message);

// The width and height of one line on `dc` (an empty line has a height).
SIZE MeasureLine(HDC dc, const std::string& line);

struct MessageLayout {
  RECT text;    // control 202: left, top, width, height (in pixels)
  RECT button;  // the customer-service button: left, top, width, height
  SIZE dialog;  // the dialog's outer size
};

// Lays out for a message whose widest line is `width` and whose lines add up
// to `height` pixels. Sizes are clamped so that no sum overflows.
MessageLayout ComputeMessageLayout(long long width, long long height);
