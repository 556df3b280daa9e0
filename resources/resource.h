// Resource identifiers of the launcher.
#pragma once

#define IDD_MESSAGEBOXEX 201
#define IDC_MESSAGETEXT 202
