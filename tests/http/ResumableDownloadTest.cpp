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

const char kModified[] = "Tue, 01 Dec 2026 10:00:00 GMT";

TEST(ResumableDownload, AppendsOnlyTheRestOfTheSameFile) {
    struct Case {
        const char* what;
        ULONGLONG total;           // recorded
        int status;                // 0: a static file server's answer (a 206), else this one
        const char* contentRange;  // instead of the server's, unless null
        int start;                 // the start the server answers from (10 was asked)
        const char* etag;
        RangeResult result;
        const char* validator;  // reported by a 200, "-" for no report
    } cases[] = {
        {"the rest", 36, 0, nullptr, 10, "\"v1\"", RangeResult::Complete, "-"},
        {"a 200 instead", 36, 200, nullptr, 10, "\"v1\"", RangeResult::Complete, "\"v1\""},
        {"a weak tag: Last-Modified instead", 36, 200, nullptr, 10, "W/\"v2\"",
         RangeResult::Complete, kModified},
        {"another total", 37, 0, nullptr, 10, "\"v1\"", RangeResult::Refused, "-"},
        {"a range that is not the rest", 36, 0, "bytes 10-34/36", 10, "\"v1\"",
         RangeResult::Refused, "-"},
        {"from another start", 36, 0, nullptr, 9, "\"v1\"", RangeResult::Refused, "-"},
        {"416", 36, 416, nullptr, 10, "\"v1\"", RangeResult::Refused, "-"},
    };
    const std::wstring dir = MakeScratchDir(L"resume");
    ASSERT_FALSE(dir.empty());
    const std::wstring partial = dir + L"\\file.download";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start());
        server.SetHandler([&c](const ReceivedRequest&) {
            ReceivedRequest asked;
            if (c.status != 200)
                asked.headers = {{"Range", "bytes=" + std::to_string(c.start) + "-"}};
            ScriptedResponse answer = ScriptedResponse::ForFile(asked, kFile, c.etag);
            answer.headers.push_back({"Last-Modified", kModified});
            for (auto& h : answer.headers)
                if (c.contentRange != nullptr && h.first == "Content-Range")
                    h.second = c.contentRange;
            return c.status == 416 ? ScriptedResponse::WithStatus(416, "No", "") : answer;
        });
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
        EXPECT_EQ(ReadFileBytes(partial),
                  c.result == RangeResult::Complete ? kFile : kFile.substr(0, 10));
        EXPECT_EQ(reported, c.validator);
        ASSERT_EQ(server.RequestCount(), 1u);
        EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=10-");
        EXPECT_EQ(server.Requests()[0].Header("If-Range"), kTag);
    }
    RemoveTree(dir);
}

}  // namespace
