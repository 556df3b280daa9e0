// Exports of Download.dll for tests and benchmarks only: shorter time-outs
// for the tasks created after the call, and a count of the sessions opened.
// The product never calls them and the service reads no configuration; its
// time-outs are connect 10 s and receive 30 s by default.
#pragma once

#include <cstdint>

#include "download_service.h"

constexpr char kDownloadSetTimeoutsName[] = "DownloadSetTimeouts";

// 0 for either value restores its default.
typedef void(LUMORA_STDCALL* DownloadSetTimeoutsFn)(uint32_t connectMs, uint32_t receiveMs);

// How many WinHTTP sessions the library has opened since it was loaded (a
// service opens one for its whole life, on its first request).
constexpr char kDownloadSessionsOpenedName[] = "DownloadSessionsOpened";
typedef uint32_t(LUMORA_STDCALL* DownloadSessionsOpenedFn)();
