// The launcher's operation "MsgBox": a plain system message box for a text
// that arrives as an operation call; its "then" is posted unchanged once the
// box is closed.
#pragma once

#include <json/value.h>

#include <string>

void MsgBoxOperation(const std::string& op, Json::Value call);
