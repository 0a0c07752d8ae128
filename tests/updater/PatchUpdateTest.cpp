// The patch update against a real loopback server and real 7z archives (made by
// make_patches.sh before this program runs): a patch is installed whole, or the installation
// ends exactly as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "archive/ExtractArchive.h"
#include "support/LoopbackHttpServer.h"
#include "support/PathUtils.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"
#include "updater/PatchUpdate.h"
#include "updater/UpdaterState.h"

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::wstring Fixture(const std::string& name) {
    return ArtifactDir() + L"\\patch_fixtures\\" + Wide(name);
}

struct FileState {
    std::string bytes;
    DWORD attributes;
    bool operator==(const FileState& other) const {
        return bytes == other.bytes && attributes == other.attributes;
    }
};
using Files = std::map<std::string, FileState>;  // every file below a directory, by name

void ReadFiles(const std::wstring& dir, const std::string& prefix, Files& files) {
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string relative = prefix + Narrow(name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ReadFiles(dir + L"\\" + name, relative + "\\", files);
        } else {
            files[relative] = {ReadFileBytes(dir + L"\\" + name), data.dwFileAttributes};
        }
    } while (FindNextFileW(find.Get(), &data));
}

Files FilesBelow(const std::wstring& dir) {
    Files files;
    ReadFiles(dir, "", files);
    return files;
}

// The patch's names in the order the update lists them: its archive unpacked the same way.
std::vector<std::string> ListingOrder(const std::string& archive, const std::wstring& dir) {
    std::vector<std::wstring> files;
    if (ExtractArchive(Fixture(archive).c_str(), dir.c_str())) CollectFiles(dir, files);
    std::vector<std::string> names;
    for (const std::wstring& file : files) names.push_back(Narrow(file.substr(dir.size() + 1)));
    return names;
}

class Patch : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = MakeScratchDir(L"patch");
        ASSERT_FALSE(scratch_.empty());
        GetCurrentDirectoryW(MAX_PATH, previousDir_);
        SetCurrentDirectoryW(scratch_.c_str());  // bx.log lands here
        // The temporary trees go below the scratch directory, away from other programs.
        GetEnvironmentVariableW(L"TMP", previousTmp_, MAX_PATH);
        temp_ = scratch_ + L"\\tmp\\";
        SetEnvironmentVariableW(L"TMP", temp_.c_str());
        bin_ = scratch_ + L"\\game\\bin\\";
        TheUpdaterState().Clear();
        TheUpdaterState().installDir = bin_;
        ASSERT_TRUE(server_.Start());
    }
    void TearDown() override {
        server_.Stop();
        SetEnvironmentVariableW(L"TMP", previousTmp_);
        SetCurrentDirectoryW(previousDir_);
        RemoveTree(scratch_);
    }

    // An installation of these files (read-only when the name is in readOnly), nothing else.
    void Fresh(const std::map<std::string, std::string>& files,
               const std::vector<std::string>& readOnly = {}) {
        RemoveTree(scratch_ + L"\\game");
        RemoveTree(Staging());
        RemoveTree(Backup());
        DeleteFileW(L"bx.log");
        CreateDirectoryW(temp_.c_str(), nullptr);
        CreateDirectoryW((scratch_ + L"\\game").c_str(), nullptr);
        CreateDirectoryW(bin_.c_str(), nullptr);
        for (const auto& file : files) {
            CreateDirectoryPath(GetParentPath(Installed(file.first)).c_str());
            ASSERT_TRUE(WriteFileBytes(Installed(file.first), file.second));
        }
        for (const std::string& name : readOnly) {
            SetFileAttributesW(Installed(name).c_str(), FILE_ATTRIBUTE_READONLY);
            ASSERT_NE(GetFileAttributesW(Installed(name).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        }
    }
    // Serves the archive's bytes (or the response) to the next update.
    bool Update(const std::string& archive, ScriptedResponse response = {}) {
        if (!archive.empty()) response = ScriptedResponse::Ok(ReadFileBytes(Fixture(archive)));
        server_.SetHandler([this, response](const ReceivedRequest&) {
            patchFileSeen_ = PathExists(PatchFile() + L".download");  // where it comes down
            return response;
        });
        return update(server_.Url("/patch.7z"));
    }

    std::wstring Installed(const std::string& name) const { return bin_ + Wide(name); }
    std::wstring PatchFile() const { return scratch_ + L"\\game\\patch\\patch.7z"; }
    // The installation's own work area beside it.
    std::wstring Staging() const { return scratch_ + L"\\game\\OrvexBridge.update\\staging"; }
    std::wstring Backup() const { return scratch_ + L"\\game\\OrvexBridge.update\\backup"; }
    std::vector<std::string> Log() const { return ReadLines(scratch_ + L"\\bx.log"); }
    // The log's spelling of an installed file: the installation directory and the name.
    std::string Logged(const std::string& name) const { return Narrow(bin_) + name; }
    void ExpectNoLeftovers(const char* what) {
        EXPECT_FALSE(PathExists(Staging())) << what;
        EXPECT_FALSE(PathExists(Backup())) << what;
        EXPECT_FALSE(PathExists(scratch_ + L"\\game\\OrvexBridge.update\\journal")) << what;
        EXPECT_FALSE(PathExists(PatchFile())) << what;
        EXPECT_FALSE(PathExists(PatchFile() + L".download")) << what;
        EXPECT_FALSE(PathExists(PatchFile() + L".download.resume")) << what;
    }

    LoopbackHttpServer server_;
    std::atomic<bool> patchFileSeen_{false};
    std::wstring scratch_, temp_, bin_;
    wchar_t previousDir_[MAX_PATH] = {};
    wchar_t previousTmp_[MAX_PATH] = {};
};

TEST_F(Patch, InstallsEveryFileAndRemovesItsTrees) {
    const std::wstring src = Fixture("src\\addsub\\");
    struct Case {
        const char* what;
        bool readOnly;
        bool staleTrees;
    } cases[] = {{"plain", false, false}, {"read-only", true, false}, {"stale trees", false, true}};
    for (const Case& c : cases) {
        Fresh({{"Orvex.dll", "the old core module"}},
              c.readOnly ? std::vector<std::string>{"Orvex.dll"} : std::vector<std::string>{});
        if (c.staleTrees) {
            for (const std::wstring& tree : {Staging(), Backup()}) {
                CreateDirectoryPath(tree.c_str());
                ASSERT_TRUE(WriteFileBytes(tree + L"\\junk.txt", "from an interrupted run"));
            }
        }
        size_t requests = server_.RequestCount();
        EXPECT_TRUE(Update("addsub.7z")) << c.what;
        Files files = FilesBelow(bin_);
        ASSERT_EQ(files.size(), 2u) << c.what;  // nothing of the stale trees came along
        EXPECT_EQ(files["Orvex.dll"].bytes, ReadFileBytes(src + L"Orvex.dll")) << c.what;
        EXPECT_EQ(files["sub\\data.bin"].bytes, ReadFileBytes(src + L"sub\\data.bin")) << c.what;
        EXPECT_EQ((files["Orvex.dll"].attributes & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);
        ExpectNoLeftovers(c.what);
        EXPECT_TRUE(Log().empty()) << c.what;
        EXPECT_TRUE(patchFileSeen_) << c.what;
        ASSERT_EQ(server_.RequestCount(), requests + 1) << c.what;
        std::string target = server_.Requests().back().target;
        EXPECT_EQ(target.rfind("/patch.7z?tick=", 0), 0u) << target;
        EXPECT_EQ(target.find_first_not_of("-0123456789", 15), std::string::npos) << target;
    }
}

TEST_F(Patch, AFileInUseLeavesTheInstallationAsItWas) {
    // The first listed file is one the patch adds, the second a read-only one it replaces;
    // locking each installed file in turn puts an added file, then also a replaced read-only
    // one, before the failure, whatever the listing order. Locked readable, as a loaded
    // module is: backed up, refused, rolled back. Locked unreadable: its backup is refused,
    // before anything changed.
    std::vector<std::string> order = ListingOrder("three.7z", scratch_ + L"\\probe");
    ASSERT_EQ(order.size(), 4u);
    std::map<std::string, std::string> old;
    for (size_t i = 1; i < order.size(); ++i) old[order[i]] = "old " + order[i];
    struct Case {
        DWORD share;
        const char* line;  // null: nothing to log, the held file was never changed
    } cases[] = {{FILE_SHARE_READ, nullptr}, {0, "update patch backup ("}};
    for (const Case& c : cases) {
        for (size_t i = 1; i < order.size(); ++i) {
            const std::string& locked = order[i];
            Fresh(old, {order[1]});
            Files before = FilesBelow(bin_);
            bool updated;
            {
                ScopedFile lock(CreateFileW(Installed(locked).c_str(), GENERIC_READ, c.share,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
                ASSERT_TRUE(lock.Valid());
                updated = Update("three.7z");
            }
            EXPECT_FALSE(updated) << locked;
            EXPECT_TRUE(FilesBelow(bin_) == before) << c.share << locked;  // the added one too
            ExpectNoLeftovers(locked.c_str());
            if (c.line == nullptr) {
                EXPECT_TRUE(Log().empty()) << locked;
            } else {
                EXPECT_EQ(Log(),
                          std::vector<std::string>{c.line + Logged(locked) + ")  failed(32)"});
            }
        }
    }
}

TEST_F(Patch, AFailedDownloadLeavesTheInstallationAsItWas) {
    ScriptedResponse chunked = ScriptedResponse::Ok(ReadFileBytes(Fixture("addsub.7z")));
    chunked.chunked = true;
    struct Case {
        const char* what;
        ScriptedResponse response;
        bool emptyUrl;
        std::vector<std::string> log;
        size_t requests;  // a failed download is tried three times
    } cases[] = {
        {"404 with a page",
         ScriptedResponse::WithStatus(404, "Not Found", "<h1>404</h1>"),
         false,
         {},
         1},
        {"no Content-Length", chunked, false,
         std::vector<std::string>(3, "update patch DownloadFile failed(12150)"), 3},
        {"empty URL", {}, true, {}, 0},
    };
    for (const Case& c : cases) {
        Fresh({{"Orvex.dll", "the old core module"}});
        Files before = FilesBelow(bin_);
        size_t requests = server_.RequestCount();
        EXPECT_FALSE(c.emptyUrl ? update(L"") : Update("", c.response)) << c.what;
        EXPECT_TRUE(FilesBelow(bin_) == before) << c.what;
        EXPECT_FALSE(PathExists(PatchFile())) << c.what;
        EXPECT_EQ(Log(), c.log) << c.what;
        EXPECT_EQ(server_.RequestCount(), requests + c.requests) << c.what;
        ExpectNoLeftovers(c.what);
        if (c.emptyUrl) {
            EXPECT_FALSE(PathExists(scratch_ + L"\\game\\patch"));
        }
    }
}

TEST_F(Patch, AnInstalledPathTooLongFailsBeforeAnythingChanges) {
    // The 70-character name fits the staging tree but not this installation.
    ASSERT_LT(scratch_.size(), 150u);
    std::wstring deep = scratch_ + L"\\" + std::wstring(200 - scratch_.size(), L'x') + L"\\";
    Fresh({});
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(deep + L"a.bin", "old a"));
    Files before = FilesBelow(deep);
    EXPECT_FALSE(ApplyPatch(Fixture("long.7z"), deep));
    EXPECT_TRUE(FilesBelow(deep) == before);
    ExpectNoLeftovers("long path");
}

}  // namespace
