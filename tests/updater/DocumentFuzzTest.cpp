// Seeded hostile variations of the version manifest and the check list, fed through the
// path a downloaded document takes: the limits check on its bytes, the parser, then the
// selection or the recording on its "root" element. No network: the bytes are made here.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/FuzzRandom.h"
#include "support/HandleCount.h"
#include "support/RelativePath.h"
#include "support/TestPaths.h"
#include "tinyxml.h"
#include "updater/FileCheckList.h"
#include "updater/HostileDocuments.h"
#include "updater/UpdaterState.h"
#include "updater/VersionManifest.h"
#include "updater/XmlLimits.h"

namespace {

// The 32-bit build runs in a slow emulated machine: the same kinds of case, fewer of them.
constexpr int kCases = sizeof(void*) == 4 ? 2500 : 10000;

// The deepest element of the parsed tree, walked without recursion.
int ElementDepth(const TiXmlNode& top) {
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> pending{{&top, 0}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        if (node->ToElement() != nullptr) deepest = std::max(deepest, ++depth);
        for (const TiXmlNode* child = node->FirstChild(); child != nullptr;
             child = child->NextSibling())
            pending.push_back({child, depth});
    }
    return deepest;
}

// A failing case in printable form, cut short: enough to turn it into a fixed case.
std::string Escaped(const std::string& bytes) {
    std::string out;
    for (char c : bytes.substr(0, 4000)) {
        unsigned char u = static_cast<unsigned char>(c);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", u);
        out += u >= 0x20 && u < 0x7F && c != '\\' ? std::string(1, c) : std::string(hex);
    }
    return bytes.size() > 4000 ? out + "..." : out;
}

enum Outcome { kRefusedByLimits, kRefusedByParser, kNoRoot, kAccepted, kOutcomes };

class DocumentFuzz : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(CreateDirectoryW((dir + L"\\bin").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((dir + L"\\bin\\sub").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(dir + L"\\bin\\good.txt", kGoodFileContent));
        ASSERT_TRUE(WriteFileBytes(dir + L"\\bin\\sub\\deep.bin",
                                   std::string(kDeepFileContent) + "damaged"));
    }

    void ResetState() {
        UpdaterState& state = TheUpdaterState();
        state.Clear();
        state.gameId = L"7";
        state.areaId = L"30";
        state.groupId = L"2";
        state.currentVersion = L"2";
        state.installDir = dir + L"\\bin\\";
    }

    // One document as the updater takes it after the download, with the properties that
    // must hold for whatever the server sent.
    Outcome Run(const std::string& bytes, bool manifest) {
        if (!XmlTextWithinLimits(bytes)) return kRefusedByLimits;
        TiXmlDocument document;
        document.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
        // What the check exists for: the parser's recursion stays within the limit, also
        // for a document it then rejects.
        EXPECT_LE(ElementDepth(document), kMaxXmlDepth);
        if (document.Error()) return kRefusedByParser;
        const TiXmlElement* root = document.FirstChildElement("root");
        if (root == nullptr) return kNoRoot;

        ResetState();
        const UpdaterState& state = TheUpdaterState();
        if (manifest) {
            EXPECT_TRUE(SelectUpdateInfo(*root));
            EXPECT_EQ(state.packageUrl, state.patchUrl);
            EXPECT_LE(state.packageUrl.size(), bytes.size());
            EXPECT_LE(state.latestVersion.size(), bytes.size());
            EXPECT_LE(state.startFlag.size(), bytes.size());
        } else {
            EXPECT_TRUE(RecordCheckFiles(*root));
            for (const CheckFileRecord& record : state.checkFiles) {
                EXPECT_TRUE(IsContainedRelativePath(record.name)) << Narrow(record.name);
                EXPECT_FALSE(record.md5.empty()) << Narrow(record.name);
                EXPECT_FALSE(record.remote_file_url.empty()) << Narrow(record.name);
                EXPECT_LE(record.name.size() + record.md5.size() + record.remote_file_url.size(),
                          bytes.size());
            }
            records += state.checkFiles.size();
        }
        return kAccepted;
    }

    ScratchWorkDir work{L"docfuzz"};
    const std::wstring dir = work.Path();
    size_t records = 0;
};

TEST_F(DocumentFuzz, SeededMutationsKeepEveryProperty) {
    // The unmutated seeds go all the way through, so the cases start from working documents.
    // The trace's first use opens a handle that the test framework keeps for the thread, so
    // it comes before the handles are counted.
    SCOPED_TRACE("seeds");
    ASSERT_EQ(Run(SeedDocument(true), true), kAccepted);
    EXPECT_EQ(Narrow(TheUpdaterState().packageUrl), "http://h/a.7z");
    ASSERT_EQ(Run(SeedDocument(false), false), kAccepted);
    ASSERT_EQ(TheUpdaterState().checkFiles.size(), 3u);
    records = 0;

    FuzzRandom random(20240611);
    size_t outcomes[kOutcomes] = {};
    ASSERT_TRUE(HandleCountFollowsHandles());
    const size_t handles = ProcessHandleCount();
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        SCOPED_TRACE("document case " + std::to_string(i));
        bool isManifest = i % 2 == 0;
        std::string bytes = HostileDocument(random, isManifest);
        ULONGLONG start = GetTickCount64();
        ++outcomes[Run(bytes, isManifest)];
        EXPECT_LT(GetTickCount64() - start, kFuzzCaseBoundMs);
        if (HasFailure()) std::printf("failing document: %s\n", Escaped(bytes).c_str());
    }
    EXPECT_EQ(ProcessHandleCount(), handles);  // the check list opens every recorded file
    TheUpdaterState().Clear();

    std::printf(
        "document cases: %d, accepted %zu (%zu check-list records), refused: %zu by the "
        "limits, %zu by the parser, %zu without a root\n",
        kCases, outcomes[kAccepted], records, outcomes[kRefusedByLimits],
        outcomes[kRefusedByParser], outcomes[kNoRoot]);
    // Every kind of outcome occurs, so the mutations reach each stage.
    for (size_t count : outcomes) EXPECT_GT(count, 0u);
    EXPECT_GT(records, 0u);
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// Documents that once got past a property, or that the limits must still let through.
TEST_F(DocumentFuzz, FixedCases) {
    const std::string nest = Repeat("<n>", 100) + Repeat("</n>", 100);
    const char* const utf8 = "<?xml version=\"1.0\"?>";
    struct Fixed {
        const char* what;
        std::string bytes;
        Outcome outcome;
    } cases[] = {
        {"an empty element at depth 65",
         "<root>" + Repeat("<n>", 63) + "<c/>" + Repeat("</n>", 63) + "</root>", kRefusedByLimits},
        {"'<' before a quote, which the parser skips to '>'", "<root><\"x>" + nest + "\"</root>",
         kRefusedByLimits},
        {"a quoted '>' in a declaration", "<root><?xml version='><!--'?>" + nest + "</root>",
         kRefusedByLimits},
        {"a lead byte hiding close tags", utf8 + ("<root>" + Repeat("<n>\xC3</n>", 100)),
         kRefusedByLimits},
        {"a lead byte hiding a quote", utf8 + ("<root a=\"\xC3\" b=\">" + nest + "</root>"),
         kRefusedByLimits},
        {"a lead byte at the end", utf8 + std::string("<root a=\"\xF0"), kRefusedByLimits},
        {"empty digest and URL",
         "\xEF\xBB\xBF<root version=\"2\">"
         "<file name=\"good.txt\" md5=\"&#xFFFFFFFF;\" remote_file_url=\"u\"/>"
         "<file name=\"good.txt\" md5=\"x\" remote_file_url=\"\"/></root>",
         kAccepted},
        {"ANSI text without a declaration",
         "<root version=\"2\"><file name=\"caf\xE9\" md5=\"x\" remote_file_url=\"u\"/></root>",
         kAccepted},
        {"ANSI text under a legacy encoding",
         "<?xml version=\"1.0\" encoding=\"GBK\"?>"
         "<root version=\"2\"><file name=\"\xB2\xE2\" md5=\"x\" remote_file_url=\"u\"/></root>",
         kAccepted},
    };
    for (const Fixed& c : cases) {
        SCOPED_TRACE(c.what);
        bool manifest = c.bytes.find("file") == std::string::npos;
        EXPECT_EQ(Run(c.bytes, manifest), c.outcome);
    }
    EXPECT_EQ(records, 2u);  // the two ANSI names
}

}  // namespace
