// A failing test's message as a reader's terminal shows it: the programs'
// text is code page 936, terminals and CI logs are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// `message` in UTF-8: its raw code page 936 text (a log or a dialog's text
// streamed into an assertion) converted; every string value GoogleTest
// printed in escapes ("\xC6\xF4...") that reads as code page 936 text is kept
// as it is, for its exact bytes, and followed by a line
// `    As Text: "<the text in UTF-8>"`, as GoogleTest itself does for UTF-8
// values. A byte that is no code page 936 text stays a \x escape.
std::string FailureTextForReaders(std::string_view message);

}  // namespace testing_support
