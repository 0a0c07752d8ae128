#include "bridge/Globals.h"

#include "updater/UpdaterState.h"

// Defined in one unit so that they are built in this order and destroyed in reverse:
// the updater state first, then the application bridge and the two render bridges.
namespace {
UpdaterState g_updaterState;
OrvexBridgeApp g_bridgeApp;
}  // namespace
OrvexBridgeDx8 g_bridgeDx8;
OrvexBridgeDx9 g_bridgeDx9;

UpdaterState& TheUpdaterState() { return g_updaterState; }
OrvexBridgeApp& TheBridgeApp() { return g_bridgeApp; }
