#include "support/GameDir.h"

#include <cstdio>

#include "installation/LockName.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"

namespace {
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
}  // namespace

GameDir::GameDir(const std::string& core, const std::wstring& parent)
    : path_(MakeScratchDir(L"game", parent)) {
    CopyFileW((ArtifactDir() + L"\\OrvexBridge.dll").c_str(), File("OrvexBridge.dll").c_str(),
              FALSE);
    CreateDirectoryW(File("bin").c_str(), nullptr);
    if (!core.empty()) InstallCore(core);
}

GameDir::~GameDir() {
    if (!path_.empty() && GetEnvironmentVariableW(L"ORVEX_KEEP_TEST_DIRS", nullptr, 0) == 0)
        RemoveTree(path_);
}

std::wstring GameDir::File(const std::string& relative) const {
    return path_ + L"\\" + Wide(relative);
}

void GameDir::InstallCore(const std::string& core) {
    CopyFileW((ArtifactDir() + L"\\" + Wide(core)).c_str(), File("bin\\Orvex.dll").c_str(), FALSE);
}

void GameDir::InstallBrokenCore() {
    WriteFileBytes(File("bin\\Orvex.dll"), "this is a text file, not a module\n");
}

std::vector<std::string> GameDir::CoreCalls() const {
    return Without(ReadLines(File("bin\\core_calls.log")), "tree=");
}

std::vector<std::string> GameDir::CoreTrees() const {
    std::vector<std::string> trees;
    for (const std::string& line : Starting(ReadLines(File("bin\\core_calls.log")), "tree="))
        trees.push_back(line.substr(5));
    return trees;
}

std::vector<std::string> GameDir::Lines(const std::string& relative) const {
    return ReadLines(File(relative));
}

HANDLE GameDir::StartHost(const std::vector<std::string>& commands, const std::string& outName,
                          const std::wstring& spelling) {
    std::wstring host = ArtifactDir() + L"\\TestHost.exe";
    std::wstring line = L"\"" + host + L"\" " + Wide(outName);
    for (const std::string& c : commands) line += L" \"" + Wide(c) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    // Under a loaded wine a process now and then fails to start; a test is about what the
    // process does, so a start is tried three times, each failure printed.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(host.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           (spelling.empty() ? path_ : spelling).c_str(), &startup, &info))
            break;
        std::fprintf(stderr, "the host did not start (error %lu, attempt %d)\n", GetLastError(),
                     attempt);
        if (attempt == 3) return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

std::vector<std::string> GameDir::Wait(HANDLE process, const std::string& outName,
                                       DWORD timeoutMs) {
    if (process == nullptr) return {"host did not start"};
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 9);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    return Lines(outName);
}

std::vector<std::string> GameDir::RunHost(const std::vector<std::string>& commands,
                                          const std::string& outName, DWORD timeoutMs) {
    return Wait(StartHost(commands, outName), outName, timeoutMs);
}

std::wstring GameDir::UpdateMutexName() const {
    wchar_t name[MAX_PATH];
    return InstallationLockName(path_.c_str(), name) ? name : L"no installation lock name";
}

bool GameDir::WaitForNoUpdateRun(DWORD timeoutMs) const {
    ScopedKernelHandle mutex(
        OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, UpdateMutexName().c_str()));
    if (!mutex) return GetLastError() == ERROR_FILE_NOT_FOUND;  // gone with the run
    DWORD result = WaitForSingleObject(mutex.Get(), timeoutMs);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return false;
    ReleaseMutex(mutex.Get());  // taken only to see it free
    return true;
}

std::vector<std::string> Starting(const std::vector<std::string>& lines,
                                  const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    }
    return out;
}

std::string Field(const std::string& line, const std::string& key) {
    std::string needle = key + "=";
    size_t at = line.find(needle);
    if (at == std::string::npos) return std::string();
    size_t end = line.find(' ', at);
    return line.substr(at + needle.size(),
                       end == std::string::npos ? std::string::npos : end - at - needle.size());
}

std::vector<std::string> Without(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.compare(0, prefix.size(), prefix) != 0) out.push_back(line);
    }
    return out;
}
