// The library's static objects, defined together so they are built in a fixed order.
#pragma once

#include "bridge/BridgeApp.h"
#include "bridge/RenderBridge.h"

OrvexBridgeApp& TheBridgeApp();

// The render bridges are reached on every frame: no call to find them.
extern OrvexBridgeDx8 g_bridgeDx8;
extern OrvexBridgeDx9 g_bridgeDx9;
inline OrvexBridgeDx8& TheBridgeDx8() { return g_bridgeDx8; }
inline OrvexBridgeDx9& TheBridgeDx9() { return g_bridgeDx9; }
