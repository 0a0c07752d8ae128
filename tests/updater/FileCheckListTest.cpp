// Which files the check list records and marks, against a real server on the update port
// and real files in an installation directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include "support/FileDigest.h"
#include "support/TestDigest.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"
#include "updater/FileCheckList.h"
#include "updater/FileRepair.h"
#include "updater/UpdaterState.h"

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Entry(const std::string& tag, const std::string& attributes) {
    return "<" + tag + " " + attributes + "/>";
}

std::string File(const std::string& name, const std::string& md5) {
    return Entry("file", "name=\"" + name + "\" md5=\"" + md5 +
                             "\" remote_file_url=\"http://127.0.0.1:8008/f/" + name + "\"");
}

const std::string kGood = "good content";

class CheckList : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        CreateDirectoryW((dir + L"\\bin").c_str(), nullptr);
        WriteFileBytes(dir + L"\\bin\\good.txt", kGood);
        WriteFileBytes(dir + L"\\bin\\bad.txt", "damaged");
        WriteFileBytes(dir + L"\\bin\\empty.txt", "");
        WriteFileBytes(dir + L"\\outside.txt", "outside");
        UpdaterState& state = TheUpdaterState();
        state.Clear();
        state.currentVersion = L"2";
        state.installDir = dir + L"\\bin\\";
        ASSERT_TRUE(server.Start(8008));
    }
    void TearDown() override { server.Stop(); }

    // "name=marked" for every record, in list order.
    static std::string Records() {
        std::string out;
        for (const CheckFileRecord& r : TheUpdaterState().checkFiles)
            out += (out.empty() ? "" : " ") + Narrow(r.name) + "=" + (r.needs_repair ? "1" : "0");
        return out;
    }

    LoopbackHttpServer server;
    ScratchWorkDir work{L"checklist"};
    const std::wstring dir = work.Path();
};

struct ListCase {
    const char* what;
    std::string body;  // children of root
    const char* version;
    const char* records;
};

TEST_F(CheckList, RecordsAndMarks) {
    const std::string good = Md5Text(kGood);
    const std::vector<ListCase> cases = {
        {"second of two damaged", File("good.txt", good) + File("bad.txt", good), "2",
         "good.txt=0 bad.txt=1"},
        {"list of another version", File("bad.txt", good), "3", ""},
        {"candidates: first file child and every later sibling",
         Entry("other", "name=\"bad.txt\" md5=\"x\" remote_file_url=\"u\"") +
             File("good.txt", good) +
             Entry("extra",
                   "name=\"bad.txt\" md5=\"" + Md5Text("damaged") + "\" remote_file_url=\"u\""),
         "2", "good.txt=0 bad.txt=0"},
        {"entries lacking an attribute",
         Entry("file", "md5=\"x\" remote_file_url=\"u\"") +
             Entry("file", "name=\"bad.txt\" remote_file_url=\"u\"") +
             Entry("file", "name=\"bad.txt\" md5=\"x\"") + File("good.txt", good),
         "2", "good.txt=0"},
        {"unsafe names",
         File("../outside.txt", "x") + File("..\\outside.txt", "x") + File("C:\\x.txt", "x") +
             File("C:x.txt", "x") + File("\\\\server\\share\\x.txt", "x") + File("\\x.txt", "x") +
             File("/x.txt", "x") + File("good.txt:stream", "x") +
             File("sub/../../outside.txt", "x") + File("... /x.txt", "x") + File("COM1.txt", "x") +
             File("sub/", "x") + File("", "x") + File("sub/../good.txt", good),
         "2", "sub/../good.txt=0"},
        {"texts that never match",
         File("good.txt", Upper(good)) + File("empty.txt", Md5Text("")) +
             File("missing.txt", good) + File("good.txt", good + "0"),
         "2", "good.txt=1 empty.txt=1 missing.txt=1 good.txt=1"},
    };
    for (const ListCase& c : cases) {
        TheUpdaterState().checkFiles.clear();
        server.Respond(ScriptedResponse::Ok(std::string("<root version=\"") + c.version + "\">" +
                                            c.body + "</root>"));
        EXPECT_TRUE(GetCheckFileList()) << c.what;
        EXPECT_EQ(Records(), c.records) << c.what;
    }
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), cases.size());
    EXPECT_EQ(requests[0].target.compare(0, 28, "/g_file_check_list.xml?tick="), 0)
        << requests[0].target;
    EXPECT_TRUE(ReadLines(dir + L"\\bx.log").empty());
}

TEST_F(CheckList, UnsafeNamesAreNeitherReadNorWritten) {
    server.Respond(ScriptedResponse::Ok("<root version=\"2\">" + File("../outside.txt", "x") +
                                        File("sub/../../outside.txt", "x") + "</root>"));
    ASSERT_TRUE(GetCheckFileList());
    RepairFiles();
    EXPECT_EQ(Records(), "");
    EXPECT_EQ(server.RequestCount(), 1u);  // the list only
    EXPECT_EQ(ReadFileBytes(dir + L"\\outside.txt"), "outside");
}

TEST_F(CheckList, FetchFailureRecordsNothing) {
    ScriptedResponse chunked = ScriptedResponse::Ok("<root version=\"2\"/>");
    chunked.chunked = true;
    server.Respond(chunked);
    EXPECT_FALSE(GetCheckFileList());
    EXPECT_EQ(ReadLines(dir + L"\\bx.log"),
              std::vector<std::string>(3, "get file check list failed(12150)"));
    EXPECT_EQ(Records(), "");
}

}  // namespace
