// What the installation tests share: a game folder whose bridge is the seams build, the two
// releases the fixture script made (laid down, or as the digests the test core reports), an
// update server for them on the update port, and the starts of a game.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedEnvironment.h"

using Lines = std::vector<std::string>;

// The file the tests make read-only in an installed release; the patch replaces it.
constexpr const char kReadOnlyFile[] = "data\\level1.dat";

std::wstring ReleaseFixture(const std::string& relative);
// Copies every directory and file below from into to (made when missing), attributes too.
bool CopyTree(const std::wstring& from, const std::wstring& to);
// What the test core reports for an installation of "A" or "B" ("" for none), laid down by
// LayRelease (read-only file included) or, without readOnly, as a package installs it.
const std::string& ReleaseDigest(const std::string& release, bool readOnly = true);

class SeamGame : public GameDir {
  public:
    explicit SeamGame(const std::wstring& parent = L"");

    // The release's files in bin\ (the read-only one made so) and its version recorded.
    void LayRelease(const std::string& release, bool readOnly = true);
    // The release bin\ holds whole, with that read-only bit: "A", "B", "" for none, else "?".
    std::string Installed(bool readOnly = true) const;
    std::string Version() const;  // what version.bin names, "" for none
    bool HasJournal() const;

    // A game's start: load, init, render until the update run has ended, then a little more
    // for the core to load if it may. The host's output lines.
    std::vector<std::string> Start(const std::string& outName);
    // A start the kill seam ends: the host's exit code.
    DWORD StartKilled();

  private:
    bool UpdateMutexExists() const;
};

// The update server on the update port: a manifest naming B and the patch, or (for a
// machine without an installation) A and the package. With a delta the manifest offers it
// too, and the delta is the payload. Payloads may be spoiled for a start.
class ReleaseServer {
  public:
    enum class Payload { Good, HoldingAFile, Truncated };
    explicit ReleaseServer(bool patch, bool delta = false);
    ~ReleaseServer();

    bool Listen();
    void Close() { server_.Stop(); }
    // Good: served whole. HoldingAFile: whole, once the file given is held (others may read
    // it but not write it) until ReleaseHold(). Truncated: a third of it.
    void Serve(Payload payload, const std::wstring& holdPath = L"");
    void ReleaseHold();
    // Requests for the whole-file patch or package so far.
    size_t WholePayloadRequests() const;

  private:
    ScriptedResponse Answer(const ReceivedRequest& request);

    bool patch_;
    bool delta_;
    std::string payload_;
    std::string whole_;  // the patch or package
    std::mutex mutex_;
    Payload mode_ = Payload::Good;
    std::wstring holdPath_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    LoopbackHttpServer server_;
};

// A counting run with ORVEX_SEAM_LOG: the lines it logged, one per file change.
Lines CountingRun(SeamGame& game);
// The names (as data\level1.dat) of the installed files the patch replaced, in the order
// the seam log shows them copied into bin\.
Lines ReplacedInCopyOrder(const Lines& seamLog);
