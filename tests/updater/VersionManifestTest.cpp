// The version manifest fetched from a real server on the update port, and its selection.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"
#include "updater/ManifestSerial.h"
#include "updater/UpdaterState.h"
#include "updater/VersionManifest.h"
#include "updater/UpdateDriver.h"
#include "updater/XmlFetch.h"

namespace {

using Lines = std::vector<std::string>;

// Where a document used to be downloaded to: nothing may be written there any more.
std::wstring TempPath() {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp, length) + L"game_orvex_version_file.xml";
}

class Manifest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        UpdaterState& state = TheUpdaterState();
        state.Clear();
        state.gameId = L"7";
        state.areaId = L"30";
        state.groupId = L"2";
        state.startFlag = L"1";
        DeleteFileW(TempPath().c_str());  // left by builds that still wrote it
    }
    void TearDown() override { server.Stop(); }

    bool Serve(const std::string& xml) {
        if (!server.Start(8008)) return false;
        server.Respond(ScriptedResponse::Ok(xml));
        return true;
    }

    Lines BxLog() { return ReadLines(dir + L"\\bx.log"); }

    static std::string Selected() {
        const UpdaterState& s = TheUpdaterState();
        return Narrow(s.startFlag) + "|" + Narrow(s.packageUrl) + "|" + Narrow(s.latestVersion);
    }

    LoopbackHttpServer server;
    ScratchWorkDir work{L"manifest"};
    const std::wstring dir = work.Path();
};

const char kLayered[] =
    "<?xml version=\"1.0\"?>\n"
    "<root start=\"1\" url=\"http://h/r.7z\" version=\"5\">\n"
    "  <game name=\"3\" start=\"0\" url=\"http://h/g3.7z\" version=\"3\"/>\n"
    "  <game name=\"7\" start=\"0\" url=\"http://h/g.7z\" version=\"6\">\n"
    "    <area name=\"30\" group=\"9\" start=\"2\" url=\"http://h/other.7z\" version=\"8\"/>\n"
    "    <area name=\"30\" group=\"2\" start=\"1\" url=\"http://h/a.7z\" version=\"7\"/>\n"
    "  </game>\n"
    "</root>\n";

TEST_F(Manifest, LastMatchingAreaOfFirstMatchingGameWins) {
    ASSERT_TRUE(Serve(kLayered));
    ASSERT_TRUE(GetUpdateInfo());
    EXPECT_EQ(Selected(), "1|http://h/a.7z|7");
    EXPECT_EQ(TheUpdaterState().patchUrl, TheUpdaterState().packageUrl);
    // What reached the server: a GET of the manifest with the cache-busting tick.
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target.compare(0, 18, "/version.xml?tick="), 0) << requests[0].target;
    EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:8008");
    EXPECT_TRUE(BxLog().empty());
}

TEST_F(Manifest, GroupMismatchFallsBackToTheGame) {
    TheUpdaterState().groupId = L"5";
    ASSERT_TRUE(Serve(kLayered));
    ASSERT_TRUE(GetUpdateInfo());
    EXPECT_EQ(Selected(), "0|http://h/g.7z|6");
}

TEST_F(Manifest, UnknownGameGetsTheRootValues) {
    TheUpdaterState().gameId = L"70";
    ASSERT_TRUE(Serve(kLayered));
    ASSERT_TRUE(GetUpdateInfo());
    EXPECT_EQ(Selected(), "1|http://h/r.7z|5");
}

TEST_F(Manifest, CandidateRules) {
    // Ids compare as exact text; the first matching game is taken even when a later one has
    // matching areas; siblings of any element name are candidates, earlier ones are not.
    ASSERT_TRUE(Serve(
        "<root start=\"r\" url=\"u\" version=\"v\">"
        "<other name=\"7\" start=\"before-first-game\" url=\"x\" version=\"x\"/>"
        "<game name=\"07\" start=\"zero-padded\" url=\"x\" version=\"x\"/>"
        "<game name=\" 7\" start=\"blank\" url=\"x\" version=\"x\"/>"
        "<game start=\"no-name\" url=\"x\" version=\"x\"/>"
        "<title name=\"7\" start=\"sibling\" url=\"s\" version=\"9\">"
        "  <zone name=\"30\" group=\"2\" start=\"before-first-area\" url=\"x\" version=\"x\"/>"
        "  <area name=\"30\" start=\"no-group\" url=\"x\" version=\"x\"/>"
        "  <area name=\"30\" group=\"2\" start=\"first\" url=\"f\" version=\"1\"/>"
        "  <zone name=\"30\" group=\"2\" start=\"last\" url=\"l\" version=\"2\"/>"
        "</title>"
        "<game name=\"7\" start=\"second-game\" url=\"x\" version=\"x\">"
        "  <area name=\"30\" group=\"2\" start=\"x\" url=\"x\" version=\"x\"/>"
        "</game>"
        "</root>"));
    ASSERT_TRUE(GetUpdateInfo());
    EXPECT_EQ(Selected(), "last|l|2");
}

TEST_F(Manifest, AbsentValuesKeepTheLevelAbove) {
    ASSERT_TRUE(
        Serve("<root start=\"1\" url=\"http://h/r.7z\" version=\"5\">"
              "<game name=\"7\" version=\"6\"><area name=\"30\" group=\"2\" start=\"0\"/></game>"
              "</root>"));
    ASSERT_TRUE(GetUpdateInfo());
    EXPECT_EQ(Selected(), "0|http://h/r.7z|6");
}

TEST_F(Manifest, ADigestTravelsWithItsUrl) {
    const struct {
        const char* area;  // attributes of the selected area
        const char* url;
        const char* sha256;
    } cases[] = {
        {"", "http://h/r.7z", "aa"},                     // both inherited
        {"url=\"http://h/a.7z\"", "http://h/a.7z", ""},  // a new url without its digest
        {"url=\"http://h/a.7z\" sha256=\"bb\"", "http://h/a.7z", "bb"},
        {"sha256=\"bb\"", "http://h/r.7z", "bb"},  // a digest for the url above
    };
    for (const auto& c : cases) {
        TiXmlDocument document;
        document.Parse((std::string("<root url=\"http://h/r.7z\" sha256=\"aa\" version=\"5\">"
                                    "<game name=\"7\"><area name=\"30\" group=\"2\" ") +
                        c.area + "/></game></root>")
                           .c_str());
        ASSERT_NE(document.RootElement(), nullptr) << c.area;
        ASSERT_TRUE(SelectUpdateInfo(*document.RootElement())) << c.area;
        EXPECT_EQ(Narrow(TheUpdaterState().packageUrl), c.url) << c.area;
        EXPECT_EQ(TheUpdaterState().packageSha256, c.sha256) << c.area;
    }
}

// Deltas: the leading "delta" children of the element that set the url in force, read only
// when that element also set the version in force; each as "from>url>sha256".
TEST_F(Manifest, DeltaChildrenOfTheElementThatSetUrlAndVersion) {
    const std::string d1 = "<delta from=\"1.0\" url=\"http://h/d1.7z\"/>";
    const std::string d2 =
        "<delta from=\"1.1\" url=\"http://h/d2.7z\" sha256=\"" + std::string(64, 'a') + "\"/>";
    std::string nine;
    for (int i = 0; i < 9; ++i) nine += "<delta from=\"" + std::to_string(i) + "\" url=\"u\"/>";
    const struct {
        const char* what;
        std::string game;  // attributes, then children of the matching game
        std::string expected;
    } cases[] = {
        {"url and version", "url=\"g\" version=\"6\">" + d1 + d2,
         "1.0>http://h/d1.7z>|1.1>http://h/d2.7z>" + std::string(64, 'a') + "|"},
        {"the root's, nothing below setting either", ">", "1.0>http://h/d1.7z>|"},
        {"url without version", "url=\"g\">" + d1, ""},
        {"version without url", "version=\"6\">" + d1, ""},
        {"only leading children", "url=\"g\" version=\"6\">" + d1 + "<x/>" + d2,
         "1.0>http://h/d1.7z>|"},
        {"at most eight read", "url=\"g\" version=\"6\">" + nine,
         "0>u>|1>u>|2>u>|3>u>|4>u>|5>u>|6>u>|7>u>|"},
        {"unusable children skipped",
         "url=\"g\" version=\"6\"><delta url=\"u\"/><delta from=\"1\"/>"
         "<delta from=\"2\" url=\"u\" sha256=\"ab\"/><delta from=\"" +
             std::string(65, '3') + "\" url=\"u\"/><delta from=\"4\" url=\"" +
             std::string(2049, 'u') + "\"/>" + d1,
         "1.0>http://h/d1.7z>|"},
        // The area overrides the version: the game's deltas do not rebuild it.
        {"a later version",
         "url=\"g\" version=\"6\">" + d1 + "<area name=\"30\" group=\"2\" version=\"7\"/>", ""},
        // The area sets both: its deltas, not the game's.
        {"a later url and version",
         "url=\"g\" version=\"6\">" + d1 +
             "<area name=\"30\" group=\"2\" url=\"a\" version=\"7\">" + d2 + "</area>",
         "1.1>http://h/d2.7z>" + std::string(64, 'a') + "|"},
    };
    for (const auto& c : cases) {
        TiXmlDocument document;
        document.Parse(("<root url=\"r\" version=\"5\">" + d1 + "<game name=\"7\" " + c.game +
                        "</game></root>")
                           .c_str());
        ASSERT_NE(document.RootElement(), nullptr) << c.what;
        ASSERT_TRUE(SelectUpdateInfo(*document.RootElement())) << c.what;
        std::string offers;
        for (const DeltaOffer& offer : TheUpdaterState().deltas)
            offers += Narrow(offer.from) + ">" + Narrow(offer.url) + ">" + offer.sha256 + "|";
        EXPECT_EQ(offers, c.expected) << c.what;
    }
}

TEST_F(Manifest, RootWithoutValuesStoresEmptyTexts) {
    ASSERT_TRUE(Serve("<root/>"));
    ASSERT_TRUE(GetUpdateInfo());
    EXPECT_EQ(Selected(), "||");
}

TEST_F(Manifest, BadDocumentsAreRetriedSilentlyAndChangeNothing) {
    for (const char* body : {"this is not xml", "<other start=\"0\"/>", "<root start=\"0\""}) {
        TheUpdaterState().latestVersion = L"old";
        ASSERT_TRUE(Serve(body));
        EXPECT_FALSE(GetUpdateInfo()) << body;
        EXPECT_EQ(server.RequestCount(), 3u) << body;
        EXPECT_EQ(Selected(), "1||old") << body;
        EXPECT_TRUE(BxLog().empty()) << body;
        server.Stop();
    }
}

// Documents come from the network: one nested too deeply fails before the parser's recursion
// could overflow the thread's stack, like a document that does not parse; one too large is
// refused as it arrives (by its announced length before any byte is kept), and logged.
TEST_F(Manifest, OversizedOrDeepDocumentsFailLikeBadOnes) {
    auto nested = [](int depth) {
        std::string open, close;
        for (int i = 1; i < depth; ++i) {
            open += "<a x='>'>";  // a quoted '>' does not end the tag
            close += "</a>";
        }
        return "<!-- <b><b> --><root start=\"1\" url=\"u\" version=\"9\">" + open + close +
               "<c/></root>";
    };
    const std::string small = "<root start=\"1\" url=\"u\" version=\"9\"/>";
    auto padded = [&small](size_t size) { return small + std::string(size - small.size(), ' '); };
    ScriptedResponse huge = ScriptedResponse::Ok(small);
    huge.headers.push_back({"Content-Length", "104857600"});  // 100 MiB announced
    struct Case {
        const char* what;
        ScriptedResponse answer;
        bool parsed;
        bool tooLarge;
    } cases[] = {
        {"64 levels", ScriptedResponse::Ok(nested(64)), true, false},
        {"65 levels", ScriptedResponse::Ok(nested(65)), false, false},
        {"5,000 levels", ScriptedResponse::Ok(nested(5000)), false, false},
        {"exactly 1 MiB", ScriptedResponse::Ok(padded(1024 * 1024)), true, false},
        {"1 MiB and a byte", ScriptedResponse::Ok(padded(1024 * 1024 + 1)), false, true},
        {"100 MiB announced", huge, false, true},
    };
    for (const Case& c : cases) {
        TheUpdaterState().latestVersion = L"old";
        ASSERT_TRUE(server.Start(8008));
        server.Respond(c.answer);
        DeleteFileW((dir + L"\\bx.log").c_str());
        EXPECT_EQ(GetUpdateInfo(), c.parsed) << c.what;
        EXPECT_EQ(Narrow(TheUpdaterState().latestVersion), c.parsed ? "9" : "old") << c.what;
        EXPECT_EQ(server.RequestCount(), c.parsed ? 1u : 3u) << c.what;
        EXPECT_EQ(BxLog(), Lines(c.tooLarge ? 3 : 0, "update version DownloadFile failed(223)"))
            << c.what;
        EXPECT_FALSE(PathExists(TempPath())) << c.what;
        server.Stop();
    }
}

TEST_F(Manifest, FailedDownloadsLogThreeLinesWithTheErrorCode) {
    // A chunked answer has no Content-Length, so it cannot be downloaded.
    ASSERT_TRUE(server.Start(8008));
    ScriptedResponse chunked = ScriptedResponse::Ok("<root start=\"0\"/>");
    chunked.chunked = true;
    server.Respond(chunked);
    EXPECT_FALSE(GetUpdateInfo());
    EXPECT_EQ(server.RequestCount(), 3u);
    Lines expected(3, "update version DownloadFile failed(12150)");
    EXPECT_EQ(BxLog(), expected);
    EXPECT_EQ(Selected(), "1||");
    EXPECT_FALSE(PathExists(TempPath()));
}

TEST_F(Manifest, UnreachableServerLogsThreeConnectFailures) {
    EXPECT_FALSE(GetUpdateInfo());
    Lines expected(3, "update version DownloadFile failed(12029)");
    EXPECT_EQ(BxLog(), expected);
    EXPECT_EQ(Selected(), "1||");
}

TEST_F(Manifest, ErrorPageWithItsLengthIsDownloadedButNotAManifest) {
    ASSERT_TRUE(server.Start(8008));
    server.Respond(ScriptedResponse::WithStatus(404, "Not Found", "<html>gone</html>"));
    EXPECT_FALSE(GetUpdateInfo());
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_TRUE(BxLog().empty());
}

TEST_F(Manifest, CompressedBodyIsNotDecoded) {
    ASSERT_TRUE(server.Start(8008));
    ScriptedResponse gzip = ScriptedResponse::Ok(std::string("\x1f\x8b\x08\x00\x00\x00", 6));
    gzip.headers.push_back({"Content-Encoding", "gzip"});
    server.Respond(gzip);
    EXPECT_FALSE(GetUpdateInfo());
    EXPECT_EQ(server.RequestCount(), 3u);
}

}  // namespace

namespace {

// The update run itself, against the same server: a second run in one process starts
// from a clean state instead of appending its ids to the first run's.
TEST_F(Manifest, SecondRunStartsFromACleanState) {
    ASSERT_TRUE(Serve(kLayered));
    UpdaterThreadArgs args;
    args.info.nGameId = 7;
    args.info.nAreaId = 30;
    args.info.nGroupId = 2;
    RunUpdate(args);
    EXPECT_EQ(Selected(), "1|http://h/a.7z|7");
    RunUpdate(args);
    EXPECT_EQ(Narrow(TheUpdaterState().gameId), "7");
    EXPECT_EQ(Narrow(TheUpdaterState().areaId), "30");
    EXPECT_EQ(Narrow(TheUpdaterState().groupId), "2");
    EXPECT_EQ(Selected(), "1|http://h/a.7z|7");
    // Each run resets "bx.log": only the second run's lines are left (the manifest's package
    // host does not resolve, at each of the three attempts).
    Lines log = BxLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "unknown current_version");
    for (size_t i = 1; i < log.size(); ++i)
        EXPECT_EQ(log[i].compare(0, 37, "Install DownloadFile (http://h/a.7z?r"), 0) << log[i];
    EXPECT_EQ(ReadLines(dir + L"\\game_info.log").size(), 2u);
}

TEST(ManifestSerial, TextsAreDecimalDigitsBelowTwoToTheSixtyThird) {
    const struct {
        const char* text;
        bool valid;
        unsigned long long value;
    } cases[] = {
        {"1", true, 1},
        {"0", true, 0},
        {"007", true, 7},
        {"9223372036854775807", true, 9223372036854775807ull},  // 2^63 - 1
        {"9223372036854775808", false, 0},                      // 2^63
        {"18446744073709551616", false, 0},                     // would wrap 64 bits
        {"99999999999999999999999", false, 0},
        {"", false, 0},
        {"+5", false, 0},
        {"-5", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"5x", false, 0},
        {"0x10", false, 0},
    };
    for (const auto& c : cases) {
        unsigned long long value = 12345;
        EXPECT_EQ(ParseManifestSerial(c.text, value), c.valid) << c.text;
        EXPECT_EQ(value, c.valid ? c.value : 12345ull) << c.text;
    }
    unsigned long long untouched = 3;
    EXPECT_FALSE(ParseManifestSerial(nullptr, untouched));
    EXPECT_EQ(untouched, 3ull);
}

}  // namespace
