// A second export of Download.dll for tests and benchmarks only: shorter
// time-outs for the tasks created after the call. The product never calls it
// and the service reads no configuration; its defaults are connect 10 s and
// receive 30 s.
#pragma once

#include <cstdint>

#include "download_service.h"

constexpr char kDownloadSetTimeoutsName[] = "DownloadSetTimeouts";

// 0 for either value restores its default.
typedef void(LUMORA_STDCALL* DownloadSetTimeoutsFn)(uint32_t connectMs, uint32_t receiveMs);
