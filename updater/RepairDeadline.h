// How long one repair pass may hold the installation's update lock. The one function lives in
// a translation unit of its own, so that a test build can link another definition in its place.
#pragma once

#include <windows.h>

// A host that drops packets stretches every try to its time-outs; with a thousand damaged
// files the pass would keep the lock for hours.
constexpr DWORD kRepairPassDeadlineMs = 120000;

// Milliseconds from the start of RepairFiles after which it starts no further try.
DWORD RepairPassDeadlineMs();
