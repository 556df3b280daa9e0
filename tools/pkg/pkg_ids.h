// Resource ids of a package: its name and exit code as strings, and payload
// file i (from 0) as RCDATA kPkgFirstPayload + i with its file name as the
// string of the same id.
#pragma once

#define kPkgNameString 1
#define kPkgExitCodeString 2
#define kPkgFirstPayload 100
