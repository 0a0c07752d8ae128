#include "support/TestPaths.h"

#include <windows.h>

#include <fstream>
#include <sstream>

std::wstring ArtifactDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::wstring MakeScratchDir(const std::wstring& tag, const std::wstring& parent) {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base = parent.empty() ? std::wstring(temp) : parent + L"\\";
    for (;;) {
        std::wstring dir = base + L"orvex-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) +
                           L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
    }
}

ScratchWorkDir::ScratchWorkDir(const std::wstring& tag) : path_(MakeScratchDir(tag)) {
    GetCurrentDirectoryW(MAX_PATH, previous_);
    if (!path_.empty()) SetCurrentDirectoryW(path_.c_str());
}

ScratchWorkDir::~ScratchWorkDir() {
    SetCurrentDirectoryW(previous_);
    if (!path_.empty()) RemoveTree(path_);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
void CollectTree(const std::wstring& dir, const std::string& prefix,
                 std::map<std::string, std::string>& files) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string relative = prefix + Narrow(name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectTree(dir + L"\\" + name, relative + "\\", files);
        } else {
            files[relative] = ReadFileBytes(dir + L"\\" + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}
}  // namespace

std::map<std::string, std::string> FileTreeBytes(const std::wstring& dir) {
    std::map<std::string, std::string> files;
    CollectTree(dir, "", files);
    return files;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

std::vector<std::wstring> OtherSpellings(const std::wstring& path) {
    std::wstring upper = path, lower = path;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    std::vector<std::wstring> spellings = {upper, lower};
    wchar_t shortPath[MAX_PATH];
    DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH && path != shortPath) spellings.push_back(shortPath);
    return spellings;
}
