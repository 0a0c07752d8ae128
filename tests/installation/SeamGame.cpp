#include "installation/SeamGame.h"

#include <map>

#include "support/TestPaths.h"
#include "support/TreeDigest.h"

namespace {
const std::string kVersions[] = {"1.0", "1.1"};  // of A and B
const std::vector<std::string> kHostRun = {"load", "init:1234:7:9:30:2",
                                           "renderuntil:dx9:go:0:120000"};
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
}  // namespace

std::wstring ReleaseFixture(const std::string& relative) {
    return ArtifactDir() + L"\\release_fixtures\\" + Wide(relative);
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool copied = true;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            copied = CopyTree(from + L"\\" + name, to + L"\\" + name) && copied;
        else
            copied = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) &&
                     copied;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return copied;
}

const std::string& ReleaseDigest(const std::string& release, bool readOnly) {
    static const std::map<std::string, std::string> digests = [] {
        std::map<std::string, std::string> made;
        for (const char* name : {"", "A", "B"}) {
            for (bool ro : {false, true}) {
                SeamGame scratch;
                if (*name) scratch.LayRelease(name, ro);
                made[name + std::string(ro ? "" : " rw")] = TreeDigestText(scratch.File("bin"));
            }
        }
        return made;
    }();
    static const std::string unknown = "?";
    auto found = digests.find(release + (readOnly ? "" : " rw"));
    return found == digests.end() ? unknown : found->second;
}

SeamGame::SeamGame(const std::wstring& parent) : GameDir("", parent) {
    CopyFileW((ArtifactDir() + L"\\seams\\OrvexBridge.dll").c_str(),
              File("OrvexBridge.dll").c_str(), FALSE);
}

void SeamGame::LayRelease(const std::string& release, bool readOnly) {
    CopyTree(ReleaseFixture(release), File("bin"));
    if (readOnly)
        SetFileAttributesW(File(std::string("bin\\") + kReadOnlyFile).c_str(),
                           FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(File("version.bin"), "[conf]\r\nversion=" + kVersions[release == "B"] + "\r\n");
}

std::string SeamGame::Installed(bool readOnly) const {
    std::string digest = TreeDigestText(File("bin"));
    for (const char* release : {"", "A", "B"})
        if (digest == ReleaseDigest(release, readOnly)) return release;
    return "?";
}

std::string SeamGame::Version() const {
    char value[64] = {};
    GetPrivateProfileStringA("conf", "version", "", value, sizeof(value),
                             Narrow(File("version.bin")).c_str());
    return value;
}

bool SeamGame::HasJournal() const { return PathExists(File("OrvexBridge.update\\journal")); }

bool SeamGame::UpdateMutexExists() const {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, UpdateMutexName().c_str());
    if (mutex != nullptr) CloseHandle(mutex);
    return mutex != nullptr || GetLastError() != ERROR_FILE_NOT_FOUND;
}

Lines SeamGame::Start(const std::string& outName) {
    const size_t runs = Lines("game_info.log").size();
    std::vector<std::string> commands = kHostRun;
    commands.push_back("waitcore:dx9:500");
    HANDLE host = StartHost(commands, outName);
    // The run has started once it logged its line (its mutex made before), and has ended
    // once the mutex is gone: closed by the run's lock and by its report.
    bool ended = WaitUntil([&] { return Lines("game_info.log").size() > runs; }, 60000) &&
                 WaitUntil([&] { return !UpdateMutexExists(); }, 120000);
    WriteFileBytes(File("go"), "");
    std::vector<std::string> out = Wait(host, outName);
    DeleteFileW(File("go").c_str());
    if (!ended) out.push_back("the update run did not end");
    return out;
}

DWORD SeamGame::StartKilled() {
    HANDLE host = StartHost(kHostRun, "killed.out");
    if (host == nullptr) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(host, 120000) != WAIT_OBJECT_0) TerminateProcess(host, code);
    WaitForSingleObject(host, 10000);
    GetExitCodeProcess(host, &code);
    CloseHandle(host);
    return code;
}

// Every test core these tests start reports the installation it was loaded from.
const ScopedEnvironmentVariable g_coreReportsItsTree(L"ORVEX_TEST_CORE_TREE", L"1");

ReleaseServer::ReleaseServer(bool patch, bool delta)
    : patch_(patch),
      delta_(delta),
      payload_(ReadFileBytes(ReleaseFixture(delta   ? "delta_AB.7z"
                                            : patch ? "patch_AB.7z"
                                                    : "package_A.7z"))),
      whole_(ReadFileBytes(ReleaseFixture(patch ? "patch_AB.7z" : "package_A.7z"))) {
    server_.SetHandler([this](const ReceivedRequest& request) { return Answer(request); });
}

ReleaseServer::~ReleaseServer() {
    server_.Stop();
    ReleaseHold();
}

bool ReleaseServer::Listen() { return !payload_.empty() && server_.Start(8008); }

void ReleaseServer::Serve(Payload payload, const std::wstring& holdPath) {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = payload;
    holdPath_ = holdPath;
}

void ReleaseServer::ReleaseHold() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
}

size_t ReleaseServer::WholePayloadRequests() const {
    size_t count = 0;
    for (const ReceivedRequest& request : server_.Requests())
        count += request.target.rfind("/pkg/payload.7z?", 0) == 0;
    return count;
}

ScriptedResponse ReleaseServer::Answer(const ReceivedRequest& request) {
    if (request.target.rfind("/version.xml?", 0) == 0)
        return ScriptedResponse::Ok(
            std::string(
                "<root start=\"1\" url=\"http://127.0.0.1:8008/pkg/payload.7z\" version=\"") +
            (patch_ ? "1.1" : "1.0") + "\">" +
            (delta_ ? "<delta from=\"1.0\" url=\"http://127.0.0.1:8008/pkg/delta.7z\"/>" : "") +
            "</root>");
    // With a delta offered, the whole-file patch is only its fallback.
    if (delta_ && request.target.rfind("/pkg/payload.7z?", 0) == 0)
        return ScriptedResponse::Ok(whole_);
    if (request.target.rfind(delta_ ? "/pkg/delta.7z?" : "/pkg/payload.7z?", 0) != 0)
        return ScriptedResponse::WithStatus(404, "Not Found", "");
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Payload::Truncated)
        return ScriptedResponse::Ok(payload_.substr(0, payload_.size() / 3));
    // Held from here on: any recovery at the run's start is over before it asks for this.
    if (mode_ == Payload::HoldingAFile && held_ == INVALID_HANDLE_VALUE)
        held_ = CreateFileW(holdPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return ScriptedResponse::Ok(payload_);
}

Lines CountingRun(SeamGame& game) {
    std::wstring dir = MakeScratchDir(L"seamlog");  // off the game's disk, which may be full
    {
        ScopedEnvironmentVariable seamLog(L"ORVEX_SEAM_LOG", (dir + L"\\seam.log").c_str());
        game.Start("counting.out");
    }
    Lines lines = ReadLines(dir + L"\\seam.log");
    RemoveTree(dir);
    return lines;
}

Lines ReplacedInCopyOrder(const Lines& seamLog) {
    std::map<std::string, std::string> a = FileTreeBytes(ReleaseFixture("A"));
    std::map<std::string, std::string> b = FileTreeBytes(ReleaseFixture("B"));
    Lines order;
    for (const std::string& line : seamLog) {
        size_t bin = line.rfind("\\bin\\");
        if (bin == std::string::npos) continue;
        std::string name = line.substr(bin + 5);
        bool replaced = a.count(name) && b.count(name) && a[name] != b[name];
        bool seen = false;
        for (const std::string& known : order) seen = seen || known == name;
        if (replaced && !seen) order.push_back(name);
    }
    return order;
}
