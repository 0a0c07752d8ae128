# find_package(OrvexBridge) gives OrvexBridge::OrvexBridge: OrvexBridge.dll, its import
# library, and the directory of Orvex.h. A game ships the DLL beside its executable.
include("${CMAKE_CURRENT_LIST_DIR}/OrvexBridgeTargets.cmake")
