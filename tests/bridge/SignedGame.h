// A game folder whose bridge is one built with test keys, and what the signed-update tests
// check about it, against the trees the publisher signed with those keys.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/GameDir.h"

// A file of the signed trees' fixture folder.
std::wstring SignedFixture(const std::wstring& relative);

// A file in the temporary directory.
std::wstring TempFile(const std::wstring& name);

class SignedGame : public GameDir {
  public:
    // bridgeDir: the folder beside the test program holding the keyed OrvexBridge.dll.
    explicit SignedGame(const std::string& core = "TestCore.dll",
                        const std::wstring& bridgeDir = L"signed");

    // The release's files in bin and its version recorded, as an earlier update leaves them.
    void Lay(const std::wstring& version);

    // The MD5 of every file that an update may change: all but the logs, the serial record
    // and what the host and the core write.
    std::map<std::string, std::string> Installation() const;
};

// The release's files are in bin, exactly, and its version is recorded.
void ExpectInstalled(const SignedGame& game, const std::wstring& version);

// Requests for packages, patches and repair files among paths.
size_t PayloadRequests(const std::vector<std::string>& paths);

// The paths among paths that start with prefix.
size_t CountStarting(const std::vector<std::string>& paths, const std::string& prefix);
