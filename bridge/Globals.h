// The library's static objects, defined together so they are built in a fixed order.
#pragma once

#include "bridge/BridgeApp.h"
#include "bridge/RenderBridge.h"

OrvexBridgeApp& TheBridgeApp();
OrvexBridgeDx8& TheBridgeDx8();
OrvexBridgeDx9& TheBridgeDx9();
