// Where the test programs find the built artifacts, and small file helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// Directory of the running test program (artifacts are built beside it), no trailing "\".
std::wstring ArtifactDir();

// A fresh empty directory under parent (by default the temporary directory), removed by
// the caller.
std::wstring MakeScratchDir(const std::wstring& tag, const std::wstring& parent = L"");
void RemoveTree(const std::wstring& path);

std::vector<std::string> ReadLines(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);
// Every file below dir, by its relative name (such as sub\name), with its bytes.
std::map<std::string, std::string> FileTreeBytes(const std::wstring& dir);
std::string Narrow(const std::wstring& text);
// Other spellings of an existing path: upper-cased, lower-cased and, where the file system
// gives a different one, its short (8.3) form.
std::vector<std::wstring> OtherSpellings(const std::wstring& path);

// A fresh scratch directory made the current one, so "bx.log" lands there. Destroying it
// brings the previous current directory back and removes the tree.
class ScratchWorkDir {
  public:
    explicit ScratchWorkDir(const std::wstring& tag);
    ~ScratchWorkDir();
    ScratchWorkDir(const ScratchWorkDir&) = delete;
    ScratchWorkDir& operator=(const ScratchWorkDir&) = delete;
    const std::wstring& Path() const { return path_; }  // empty when it could not be made

  private:
    std::wstring path_;
    wchar_t previous_[MAX_PATH] = {};
};

// Polls until done() is true; false when timeoutMs passed first.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
