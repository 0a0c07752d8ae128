#include "updater/DeltaUpdate.h"

#include <windows.h>

#include <string>

#include "archive/ExtractArchive.h"
#include "archive/ZstdPatch.h"
#include "bridge/UpdateGate.h"
#include "installation/FileChange.h"
#include "installation/InstallChange.h"
#include "installation/Recovery.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "support/ScopedHandle.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"
#include "updater/DeltaIndex.h"
#include "updater/InstallDir.h"
#include "updater/PartialDownload.h"
#include "updater/PatchUpdate.h"
#include "updater/PayloadDownload.h"

namespace {

constexpr const wchar_t* kDeltaFileName = L"\\delta.7z";

// The reason of the last failed attempt, for the one line a failed delta logs. Only the
// updater thread downloads.
DWORD g_downloadError = 0;
void NoteDownloadFailure(const std::wstring& /*requestUrl*/, DWORD error) {
    g_downloadError = error;
}

std::wstring DeltaFile(const std::wstring& installDir) {
    return PatchDirectory(installDir) + kDeltaFileName;
}

bool Fail(std::string& why, const std::string& reason) {
    why = reason;
    return false;
}

bool Fail(std::string& why, const std::string& reason, const std::wstring& path) {
    std::string narrow;
    WideToAnsi(path.c_str(), narrow);
    return Fail(why, reason + ": " + narrow);
}

bool ReadIndexText(const std::wstring& path, std::string& text) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        size.QuadPart > static_cast<LONGLONG>(kMaxDeltaIndexBytes))
        return false;
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr) &&
           got == text.size();
}

class DeltaRun {
  public:
    explicit DeltaRun(const std::wstring& installDir)
        : layout_(LayoutForInstallDir(installDir)), deltaFile_(DeltaFile(installDir)) {}

    // Up to the change; false with the reason when the delta cannot be used.
    bool Prepare(const DeltaOffer& offer, const std::wstring& installedVersion,
                 const std::wstring& toVersion, std::string& why) {
        if (layout_.installDir.empty()) return Fail(why, "no installation");
        DeleteFileW(deltaFile_.c_str());
        CreateDirectoryPath(GetParentPath(deltaFile_).c_str());
        g_downloadError = 0;
        PayloadRequest request{offer.url,    L"?tick=",           deltaFile_,
                               offer.sha256, DownloadKind::Patch, NoteDownloadFailure};
        if (!DownloadPayload(request))
            return Fail(why, g_downloadError == 0 ? std::string("download")
                                                  : "download " + std::to_string(g_downloadError));
        downloaded_ = true;
        if (IsUpdateRunning() != 0) return Fail(why, "installation busy");
        if (InstallationHasJournal(layout_)) return Fail(why, "installation journal");
        // Leftovers of an interrupted run must not mix with this delta.
        if (!RemoveWorkTree(layout_.deltaDir) || !RemoveWorkTree(layout_.stagingDir))
            return Fail(why, "work area");
        CreateDirectoryPath(layout_.deltaDir.c_str());
        CreateDirectoryPath(layout_.stagingDir.c_str());
        std::vector<std::wstring> names;
        if (!ExtractArchive(deltaFile_.c_str(), layout_.deltaDir.c_str(), &names))
            return Fail(why, "unpack");
        DeleteFileW(deltaFile_.c_str());

        std::string text;
        if (!ReadIndexText(layout_.deltaDir + L"\\" + kDeltaIndexName, text) ||
            !ParseDeltaIndex(text, index_))
            return Fail(why, "index");
        if (index_.from != installedVersion) return Fail(why, "index from");
        if (index_.to != toVersion) return Fail(why, "index to");
        if (!DeltaArchiveMatches(index_, names)) return Fail(why, "archive entries");
        for (const DeltaEntry& entry : index_.entries) {
            if (!Stage(entry, why)) return false;
        }
        return IsUpdateRunning() == 0 || Fail(why, "installation busy");
    }

    // The staged files installed as a patch's are.
    DeltaResult Apply(const std::wstring& toVersion) {
        RemoveWorkTree(layout_.deltaDir);  // room on the disk for the backups
        ChangeRequest request{L"patch", toVersion, {}};
        for (const DeltaEntry& entry : index_.entries) request.names.push_back(entry.path);
        bool installed = ApplyChange(layout_, request);
        if (!InstallationHasJournal(layout_)) ClearWorkTrees(layout_);
        return installed ? DeltaResult::Installed : DeltaResult::ChangeFailed;
    }

    // After a failure: nothing of the delta stays but a download a later start can continue.
    void Discard() {
        if (downloaded_) DeleteFileW(deltaFile_.c_str());
        if (layout_.deltaDir.empty()) return;
        RemoveWorkTree(layout_.deltaDir);
        ClearWorkTrees(layout_);  // unless a journal is there, whose backups must stay
    }

  private:
    // One file into the staging tree: rebuilt from the installed one, or moved there whole.
    bool Stage(const DeltaEntry& entry, std::string& why) {
        const std::wstring from = layout_.deltaDir + L"\\" + entry.archiveName;
        const std::wstring to = layout_.stagingDir + L"\\" + entry.path;
        CreateDirectoryPath(GetParentPath(to).c_str());
        if (entry.zstd) {
            ZstdPatchPlan plan{entry.windowLog, entry.baseSha256, entry.resultSha256,
                               entry.resultSize};
            std::string reason;
            return RebuildFromZstdPatch(layout_.installDir + entry.path, from, to, plan, reason) ||
                   Fail(why, reason, entry.path);
        }
        if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
            return Fail(why, "move", entry.path);
        ULONGLONG size = 0;
        if (!FileLength(to, size) || size != entry.resultSize)
            return Fail(why, "result size", entry.path);
        return FileMatchesSha256(entry.resultSha256.c_str(), to.c_str()) ||
               Fail(why, "result sha256", entry.path);
    }

    const InstallLayout layout_;
    const std::wstring deltaFile_;
    DeltaIndex index_;
    bool downloaded_ = false;
};

const DeltaOffer* OfferFor(const std::vector<DeltaOffer>& offers, const std::wstring& version) {
    for (const DeltaOffer& offer : offers) {
        if (offer.from == version) return &offer;
    }
    return nullptr;
}

}  // namespace

DeltaResult UpdateByDelta(const std::vector<DeltaOffer>& offers,
                          const std::wstring& installedVersion, const std::wstring& toVersion) {
    try {
        const DeltaOffer* offer = OfferFor(offers, installedVersion);
        if (offer == nullptr || installedVersion.empty() || toVersion.empty())
            return DeltaResult::NotOffered;
        const std::wstring installDir = InstallDirOrDefault();
        if (installDir.empty()) return DeltaResult::NotOffered;
        DeltaRun run(installDir);
        std::string why;
        bool prepared = false;
        try {
            prepared = run.Prepare(*offer, installedVersion, toVersion, why);
        } catch (...) {
            why = "out of memory";
        }
        if (prepared) {
            try {
                return run.Apply(toVersion);
            } catch (...) {
                return DeltaResult::ChangeFailed;  // a journal, if any, is the next run's
            }
        }
        run.Discard();
        WriteLog("bx.log", "a", "update delta failed (%s)\n", why.c_str());
        return DeltaResult::Failed;
    } catch (...) {
        return DeltaResult::Failed;  // the whole-file patch may still do
    }
}

void DiscardDeltaDownload() {
    try {
        const std::wstring installDir = InstallDirOrDefault();
        if (!installDir.empty()) DiscardPartial(DeltaFile(installDir));
    } catch (...) {
    }
}
