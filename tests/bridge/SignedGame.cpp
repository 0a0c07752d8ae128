#include "SignedGame.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "support/PathUtils.h"
#include "support/ServedTree.h"
#include "support/TestDigest.h"
#include "support/TestPaths.h"

std::wstring SignedFixture(const std::wstring& relative) {
    return ArtifactDir() + L"\\signed_tree\\" + relative;
}

std::wstring TempFile(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp, length) + name;
}

SignedGame::SignedGame(const std::string& core, const std::wstring& bridgeDir) : GameDir(core) {
    CopyFileW((ArtifactDir() + L"\\" + bridgeDir + L"\\OrvexBridge.dll").c_str(),
              File("OrvexBridge.dll").c_str(), FALSE);
}

void SignedGame::Lay(const std::wstring& version) {
    for (const auto& [name, bytes] : FileTreeBytes(SignedFixture(L"releases\\" + version))) {
        std::wstring target = File("bin\\" + name);
        CreateDirectoryPath(GetParentPath(target).c_str());
        WriteFileBytes(target, bytes);
    }
    WriteFileBytes(File("version.bin"), "[conf]\r\nversion=" + Narrow(version) + "\r\n");
}

std::map<std::string, std::string> SignedGame::Installation() const {
    std::map<std::string, std::string> digests;
    for (const auto& [name, bytes] : FileTreeBytes(Path())) {
        // serial.bin records each verified manifest, refused or not what it then offered.
        bool own = name == "bx.log" || name == "game_info.log" || name == "host.out" ||
                   name == "serial.bin" || name == "bin\\core_calls.log" ||
                   name.compare(0, 5, "seen-") == 0;
        if (!own) digests[name] = Md5Text(bytes);
    }
    return digests;
}

void ExpectInstalled(const SignedGame& game, const std::wstring& version) {
    std::map<std::string, std::string> release =
        FileTreeBytes(SignedFixture(L"releases\\" + version));
    ASSERT_GE(release.size(), 4u);
    for (const auto& [name, bytes] : release)
        EXPECT_EQ(ReadFileBytes(game.File("bin\\" + name)), bytes) << name;
    EXPECT_EQ(Field(game.Lines("version.bin").at(1), "version"), Narrow(version));
}

size_t CountStarting(const std::vector<std::string>& paths, const std::string& prefix) {
    return Starting(paths, prefix).size();
}

size_t PayloadRequests(const std::vector<std::string>& paths) {
    return CountStarting(paths, "/packages/") + CountStarting(paths, "/patches/") +
           CountStarting(paths, "/files/");
}
