// A game installation laid out for a test: OrvexBridge.dll in a fresh directory, with
// bin\Orvex.dll from one of the test core modules, and the test host run inside it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class GameDir {
  public:
    // core: file name of a test core module beside the test program, or "" for none.
    // parent: where the directory is made, by default the temporary directory.
    explicit GameDir(const std::string& core = "TestCore.dll", const std::wstring& parent = L"");
    ~GameDir();
    GameDir(const GameDir&) = delete;
    GameDir& operator=(const GameDir&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::string& relative) const;

    void InstallCore(const std::string& core);  // copies it to bin\Orvex.dll
    void InstallBrokenCore();                   // a bin\Orvex.dll that is no module

    // Calls the test core recorded so far ("core_calls.log" beside it), its "tree=" lines
    // apart: CoreTrees() has those, the digest of the installation at each load.
    std::vector<std::string> CoreCalls() const;
    std::vector<std::string> CoreTrees() const;
    std::vector<std::string> Lines(const std::string& relative) const;

    // Runs the test host in this directory with the commands; returns its output lines.
    std::vector<std::string> RunHost(const std::vector<std::string>& commands,
                                     const std::string& outName = "host.out",
                                     DWORD timeoutMs = 120000);
    // Starts the host without waiting; Wait() collects its output. spelling: this directory's
    // path as the host is to reach it (its working directory), "" for Path().
    HANDLE StartHost(const std::vector<std::string>& commands, const std::string& outName,
                     const std::wstring& spelling = L"");
    std::vector<std::string> Wait(HANDLE process, const std::string& outName,
                                  DWORD timeoutMs = 120000);

    // The installation's update mutex name, as the bridge derives it from this directory.
    std::wstring UpdateMutexName() const;

    // Waits until no update run holds this installation's lock (the named update mutex,
    // which a first instance's updater owns for its whole run, and which is gone once no
    // game has it open); false when timeoutMs passed first.
    bool WaitForNoUpdateRun(DWORD timeoutMs) const;

  private:
    std::wstring path_;
};

// Lines of `lines` that start with `prefix`.
std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix);
// The value of "key=value" in a line, or "".
std::string Field(const std::string& line, const std::string& key);
// Lines of `lines` that do not start with `prefix`.
std::vector<std::string> Without(const std::vector<std::string>& lines, const std::string& prefix);
