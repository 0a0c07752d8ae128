// Every download of an update run against a server on the update port that fails it in each
// way a network or a server can (the cases are in UpdateFaultCases.h). After each case the
// run has reported, no partial file is left, the installation is as it was or wholly the new
// version, and "bx.log" names the failure wherever the run logs one. The runs go through the
// updater thread, as OrvexInitialize starts it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Orvex.h"
#include "bridge/SelfModule.h"
#include "bridge/UpdateGate.h"
#include "installation/UpdateLock.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedHandle.h"
#include "support/TestDigest.h"
#include "support/TestPaths.h"
#include "updater/DownloadLimits.h"
#include "updater/LocalVersion.h"
#include "updater/UpdateDriver.h"

#include "UpdateFaultCases.h"

namespace {

using Files = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

const std::string kDamaged = "damaged level data";
const std::string kRepaired = "level data, version 2.0\n";

std::string Manifest() {
    return "<root start=\"1\" url=\"http://127.0.0.1:8008/pkg/archive.7z\" version=\"2.0\"/>";
}
std::string CheckList() {
    return "<root version=\"2.0\"><file name=\"data\\level.dat\" md5=\"" + Md5Text(kRepaired) +
           "\" remote_file_url=\"http://127.0.0.1:8008/files/level.dat\"/></root>";
}
std::wstring Artifact(const std::wstring& name) { return ArtifactDir() + L"\\" + name; }
bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Names and digests, so a difference prints readably.
std::string Summary(const Files& files) {
    std::string text;
    for (const auto& file : files) text += file.first + " " + Md5Text(file.second) + "\n";
    return text;
}

// The code at the end of a "...failed(%d)" line, 0 when there is none.
int Code(const std::string& line) {
    std::size_t open = line.rfind("failed(");
    return open == std::string::npos ? 0 : std::atoi(line.c_str() + open + 7);
}

class UpdateFaults : public ::testing::TestWithParam<std::tuple<int, int>> {
  protected:
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        ASSERT_TRUE(CreateDirectoryW(game_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
        // A test module stands in for the bridge library, so the game is this directory.
        std::wstring library = game_ + L"\\OrvexBridge.dll";
        ASSERT_TRUE(CopyFileW(Artifact(L"TestCore.dll").c_str(), library.c_str(), TRUE));
        library_.Reset(LoadLibraryW(library.c_str()));
        ASSERT_TRUE(library_.Valid());
        SetSelfModule(library_.Get());
        GetEnvironmentVariableW(L"TMP", previousTmp_, MAX_PATH);
        SetEnvironmentVariableW(L"TMP", temp_.c_str());  // the documents and patch trees
        CapDownloadLimits(kLimitMs);
        package_ = ReadFileBytes(Artifact(L"package_fixtures\\package.7z"));
        patch_ = ReadFileBytes(Artifact(L"patch_fixtures\\addsub.7z"));
        ASSERT_FALSE(package_.empty());
        ASSERT_FALSE(patch_.empty());
    }
    void TearDown() override {
        server_.Stop();
        CapDownloadLimits(0);
        SetEnvironmentVariableW(L"TMP", previousTmp_);
        SetSelfModule(nullptr);
        library_.Close();
    }

    // The installation from which the run reaches the kind's download.
    void Prepare(const Kind& kind) {
        if (kind.step == Step::Package) return;  // none: the run installs the package
        const std::wstring bin = game_ + L"\\bin";
        ASSERT_TRUE(CreateDirectoryW(bin.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((bin + L"\\data").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(bin + L"\\Orvex.dll", "the core module of 1.0"));
        ASSERT_TRUE(WriteFileBytes(bin + L"\\data\\level.dat", kDamaged));
        ASSERT_TRUE(WriteFileBytes(game_ + L"\\version.bin",
                                   "[conf]\r\nversion=" + Narrow(kind.installed) + "\r\n"));
    }

    // The installation once the kind's step has done its work.
    Files Updated(const Kind& kind, Files files) const {
        files.erase("version.bin");
        if (kind.step == Step::CheckList || kind.step == Step::RepairFile) {
            files["bin\\data\\level.dat"] = kRepaired;
            return files;
        }
        const wchar_t* source =
            kind.step == Step::Package ? L"package_fixtures\\src" : L"patch_fixtures\\src\\addsub";
        for (const auto& file : FileTreeBytes(Artifact(source)))
            files["bin\\" + file.first] = file.second;
        return files;
    }

    ScriptedResponse Good(const Kind& kind) const {
        switch (kind.step) {
            case Step::Manifest:
                return ScriptedResponse::Ok(Manifest());
            case Step::CheckList:
                return ScriptedResponse::Ok(CheckList());
            case Step::RepairFile:
                return ScriptedResponse::Ok(kRepaired);
            case Step::Package:
                return ScriptedResponse::Ok(package_);
            case Step::Patch:
                break;
        }
        return ScriptedResponse::Ok(patch_);
    }

    // Every download answered well, except the faulty one; a redirected one is answered well.
    ScriptedResponse Answer(const Fault& fault, const Kind& faulty, std::string target) const {
        const bool moved = StartsWith(target, "/moved");
        if (moved) target.erase(0, 6);
        for (const Kind& kind : kKinds) {
            if (!StartsWith(target, kind.target)) continue;
            ScriptedResponse good = Good(kind);
            if (fault.apply == nullptr && faulty.before != nullptr)
                good.refuseLaterConnections = StartsWith(target, faulty.before);
            if (&kind != &faulty || moved || fault.apply == nullptr) return good;
            return fault.apply(good, target);
        }
        return ScriptedResponse::WithStatus(404, "Not Found", "");
    }

    // One run on the updater thread. The gate of a first instance stays shut until the run
    // reports its result, so an open gate afterwards shows that it did.
    void RunUpdater() {
        CreateUpdateMutex();
        ASSERT_TRUE(IsFirstInstance());
        wchar_t lockName[MAX_PATH];
        {
            UpdateLock probe(UpdateMutexName(lockName));
            ASSERT_FALSE(IsLoadGateOpen(probe));
        }
        AppInfo info = {};
        info.cbSize = sizeof(info);
        info.nGameId = 7;
        info.nAreaId = 30;
        info.nGroupId = 2;
        StartUpdater(info);
        ASSERT_TRUE(WaitUntil([] { return !IsUpdaterActive(); }, 120000));
        UpdateLock load(UpdateMutexName(lockName));
        EXPECT_TRUE(IsLoadGateOpen(load));
    }

    void ExpectLog(const Fault& fault, const Kind& kind) const {
        Lines log = ReadLines(root_ + L"\\bx.log");
        if (kind.step == Step::Package) {
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.front(), "unknown current_version");
            log.erase(log.begin());
        }
        const std::size_t attempts = static_cast<std::size_t>(kind.attempts);
        const bool failureLogged =
            fault.outcome == Outcome::DownloadFails || fault.outcome == Outcome::RejectedOrFails;
        const bool rejectLogged =
            kind.rejected != nullptr &&
            (fault.outcome == Outcome::BodyRejected || fault.outcome == Outcome::RejectedOrFails);
        const std::size_t rejections = static_cast<std::size_t>(kind.rejections);
        // One line per attempt, unless some attempts fail silently.
        if (fault.outcome == Outcome::DownloadFails) {
            EXPECT_EQ(log.size(), attempts) << ::testing::PrintToString(log);
        } else if (fault.outcome == Outcome::BodyRejected && rejectLogged) {
            EXPECT_EQ(log.size(), rejections) << ::testing::PrintToString(log);
        } else if (rejectLogged) {
            // Failed attempts, then (when one completes) its rejections.
            EXPECT_GE(log.size(), rejections) << ::testing::PrintToString(log);
            EXPECT_LE(log.size(), attempts) << ::testing::PrintToString(log);
        } else {
            EXPECT_LE(log.size(), failureLogged ? attempts : 0) << ::testing::PrintToString(log);
        }
        for (const std::string& line : log) {
            bool failure = StartsWith(line, kind.failure) && Code(line) > 0;
            bool rejected = kind.rejected != nullptr && line == kind.rejected;
            EXPECT_TRUE((failureLogged && failure) || (rejectLogged && rejected)) << line;
        }
    }

    // Nothing in the temporary directory but documents that arrived whole.
    void ExpectNoTemporaryLeftovers() const {
        for (const auto& file : FileTreeBytes(temp_)) {
            if (file.first == "game_orvex_version_file.xml") {
                EXPECT_EQ(file.second, Manifest());
            } else if (file.first == "g_file_check_list.xml") {
                EXPECT_EQ(file.second, CheckList());
            } else {
                ADD_FAILURE() << "left in the temporary directory: " << file.first;
            }
        }
    }

    ScratchWorkDir work_{L"faults"};  // the current directory: "bx.log" lands here
    const std::wstring root_ = work_.Path();
    const std::wstring game_ = root_ + L"\\game";
    const std::wstring temp_ = root_ + L"\\tmp\\";
    ScopedModule library_;
    LoopbackHttpServer server_;
    std::string package_, patch_;
    wchar_t previousTmp_[MAX_PATH] = {};
};

TEST_P(UpdateFaults, RunReportsAndLeavesTheInstallationWhole) {
    const Fault& fault = kFaults[std::get<0>(GetParam())];
    const Kind& kind = kKinds[std::get<1>(GetParam())];
    ASSERT_NO_FATAL_FAILURE(Prepare(kind));
    const Files before = FileTreeBytes(game_);
    // Nothing listens for a refused manifest; otherwise the answer before the faulty
    // download stops the listening.
    if (fault.apply != nullptr || kind.before != nullptr) {
        // Each connection on its own thread, so a stalled one holds up no later attempt;
        // refusing later connections needs the one accepting thread.
        server_.SetConcurrent(fault.apply != nullptr);
        ASSERT_TRUE(server_.Start(8008)) << GetLastError();
        server_.SetHandler([this, &fault, &kind](const ReceivedRequest& request) {
            return Answer(fault, kind, request.target);
        });
    }

    ASSERT_NO_FATAL_FAILURE(RunUpdater());

    // A package or patch file or a repaired file's ".download" left behind shows here too.
    const Files after = FileTreeBytes(game_);
    if (fault.outcome == Outcome::Works) {
        Files installed = after;
        installed.erase("version.bin");
        EXPECT_EQ(Summary(installed), Summary(Updated(kind, before)));
        EXPECT_EQ(ReadInstalledVersion(), L"2.0");
    } else {
        EXPECT_EQ(Summary(after), Summary(before));
    }
    ExpectNoTemporaryLeftovers();
    ExpectLog(fault, kind);
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
    return std::string(kFaults[std::get<0>(info.param)].id) + "_" +
           kKinds[std::get<1>(info.param)].id;
}

INSTANTIATE_TEST_SUITE_P(
    EveryDownload, UpdateFaults,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kFaults))),
                       ::testing::Range(0, static_cast<int>(std::size(kKinds)))),
    CaseName);

}  // namespace
