#include "updater/DownloadLimits.h"

#include <atomic>

namespace {

// Resolve, connect, send, receive, whole body (ms). The archives may take minutes on a slow
// line; the documents and repair files are small.
constexpr DownloadSettings kDocument = {10000, 10000, 10000, 10000, 10000};
constexpr DownloadSettings kRepairFile = {10000, 10000, 10000, 10000, 10000};
constexpr DownloadSettings kPackage = {30000, 30000, 360000, 360000, 360000};
constexpr DownloadSettings kPatch = {10000, 10000, 360000, 360000, 360000};

// Set by a test before it starts a run, read by the run's thread; 0 for none.
std::atomic<DWORD> g_cap{0};

int Capped(int value, DWORD cap) {
    return static_cast<DWORD>(value) > cap ? static_cast<int>(cap) : value;
}

const DownloadSettings& BuiltIn(DownloadKind kind) {
    switch (kind) {
        case DownloadKind::RepairFile:
            return kRepairFile;
        case DownloadKind::Package:
            return kPackage;
        case DownloadKind::Patch:
            return kPatch;
        case DownloadKind::Document:
            break;
    }
    return kDocument;
}

}  // namespace

DownloadSettings DownloadLimits(DownloadKind kind) {
    DownloadSettings settings = BuiltIn(kind);
    const DWORD cap = g_cap.load();
    if (cap == 0) return settings;
    settings.resolveMs = Capped(settings.resolveMs, cap);
    settings.connectMs = Capped(settings.connectMs, cap);
    settings.sendMs = Capped(settings.sendMs, cap);
    settings.receiveMs = Capped(settings.receiveMs, cap);
    if (settings.bodyTimeLimitMs > cap) settings.bodyTimeLimitMs = cap;
    return settings;
}

void CapDownloadLimits(DWORD longestMs) { g_cap.store(longestMs); }
