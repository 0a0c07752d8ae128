// A continued download against the loopback server: only a 206 that carries on exactly the
// recorded file is appended; a 200 starts the file over and reports its tag; anything else
// leaves the partial file as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "http/ResumableDownload.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"

namespace {

const std::string kFile = "0123456789abcdefghijklmnopqrstuvwxyz";
const std::string kTag = "\"v1\"";
const DownloadSettings kSettings = {10000, 10000, 10000, 10000, 10000};

ScriptedResponse Altered(ScriptedResponse r, const char* header, const std::string& value) {
    for (auto& h : r.headers)
        if (h.first == header) h.second = value;
    return r;
}

TEST(ResumableDownload, AppendsOnlyTheRestOfTheSameFile) {
    struct Case {
        const char* what;
        ULONGLONG total;                                           // recorded
        ScriptedResponse (*answer)(const ReceivedRequest& asked);  // the server's
        RangeResult result;
        std::string file;       // the partial file afterwards
        std::string validator;  // reported by a 200, "-" for no report
    } cases[] = {
        {"the rest", kFile.size(),
         [](const ReceivedRequest& r) { return ScriptedResponse::ForFile(r, kFile, kTag); },
         RangeResult::Complete, kFile, "-"},
        {"a 200 instead", kFile.size(),
         [](const ReceivedRequest&) { return ScriptedResponse::ForFile({}, kFile, kTag); },
         RangeResult::Complete, kFile, kTag},
        {"a weak tag: Last-Modified instead", kFile.size(),
         [](const ReceivedRequest&) {
             ScriptedResponse r = ScriptedResponse::ForFile({}, kFile, "W/\"v2\"");
             r.headers.push_back({"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"});
             return r;
         },
         RangeResult::Complete, kFile, "Tue, 01 Dec 2026 10:00:00 GMT"},
        {"another total", kFile.size() + 1,
         [](const ReceivedRequest& r) { return ScriptedResponse::ForFile(r, kFile, kTag); },
         RangeResult::Refused, kFile.substr(0, 10), "-"},
        {"a range that is not the rest", kFile.size(),
         [](const ReceivedRequest& r) {
             return Altered(ScriptedResponse::ForFile(r, kFile, kTag), "Content-Range",
                            "bytes 10-34/36");
         },
         RangeResult::Refused, kFile.substr(0, 10), "-"},
        {"416", kFile.size(),
         [](const ReceivedRequest&) { return ScriptedResponse::WithStatus(416, "No", ""); },
         RangeResult::Refused, kFile.substr(0, 10), "-"},
        {"cut", kFile.size(),
         [](const ReceivedRequest& r) {
             ScriptedResponse cut = ScriptedResponse::ForFile(r, kFile, kTag);
             cut.resetAfterBytes = 0;
             return cut;
         },
         RangeResult::Failed, kFile.substr(0, 10), "-"},
    };
    const std::wstring dir = MakeScratchDir(L"resume");
    ASSERT_FALSE(dir.empty());
    const std::wstring partial = dir + L"\\file.download";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start());
        server.SetHandler(c.answer);
        // More than the offset on disk: what lies past it is not the recorded file's.
        ASSERT_TRUE(WriteFileBytes(partial, kFile.substr(0, 10) + "stale"));
        ResumePoint from;
        from.offset = 10;
        from.total = c.total;
        from.validator = std::wstring(kTag.begin(), kTag.end());
        std::string reported = "-";
        DWORD error = 0;
        RangeResult result = DownloadFrom(
            server.Url("/f"), partial, from, kSettings,
            [&](const WholeFileInfo& info) { reported = Narrow(info.validator); }, error);
        EXPECT_EQ(static_cast<int>(result), static_cast<int>(c.result));
        EXPECT_EQ(error != 0, c.result != RangeResult::Complete) << error;
        EXPECT_EQ(ReadFileBytes(partial), c.file);
        EXPECT_EQ(reported, c.validator);
        ASSERT_EQ(server.RequestCount(), 1u);
        EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=10-");
        EXPECT_EQ(server.Requests()[0].Header("If-Range"), kTag);
    }
    RemoveTree(dir);
}

}  // namespace
