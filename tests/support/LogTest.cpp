#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <string>

#include "support/Log.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"
#include "support/TextConvert.h"

namespace {

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir(L"log");
        ASSERT_FALSE(dir_.empty());
        path_ = dir_ + L"\\bx.log";
        narrowPath_ = Narrow(path_);
    }
    void TearDown() override { RemoveTree(dir_); }

    std::wstring dir_;
    std::wstring path_;
    std::string narrowPath_;
};

TEST_F(LogFile, LongOutputIsCutAt2047Characters) {
    WriteLog(narrowPath_.c_str(), "a", "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(ReadFileBytes(path_), std::string(2047, 'x'));
}

TEST_F(LogFile, LineOf2047CharactersKeepsItsNewlineAndOneMoreLosesIt) {
    // 2046 characters and "\n" fill the line exactly; one more pushes the "\n" out.
    WriteLog(narrowPath_.c_str(), "a", "%s\n", std::string(2046, 'a').c_str());
    WriteLog(narrowPath_.c_str(), "a", "%s\n", std::string(2047, 'b').c_str());
    EXPECT_EQ(ReadFileBytes(path_), std::string(2046, 'a') + "\r\n" + std::string(2047, 'b'));
}

TEST_F(LogFile, PercentSignsInTheDataAreWrittenUnchanged) {
    WriteLog(narrowPath_.c_str(), "a", "Install DownloadFile (%s)  failed(%d)\n",
             "http://host/p%20q%d%s%n.7z?rand=-12", 12002);
    EXPECT_EQ(ReadFileBytes(path_),
              "Install DownloadFile (http://host/p%20q%d%s%n.7z?rand=-12)  failed(12002)\r\n");
}

TEST_F(LogFile, AppendsInTextModeAfterExistingContent) {
    ASSERT_TRUE(WriteFileBytes(path_, "earlier\r\n"));
    WriteLog(narrowPath_.c_str(), "a", "unknown current_version\n");
    WriteLog(narrowPath_.c_str(), "a", "get file check list failed(%d)\n", 5);
    EXPECT_EQ(ReadFileBytes(path_),
              "earlier\r\nunknown current_version\r\nget file check list failed(5)\r\n");
}

TEST_F(LogFile, FileIsNotHeldOpenBetweenLines) {
    WriteLog(narrowPath_.c_str(), "a", "one\n");
    // The driver deletes the log at the start of a run; that must work right after a line.
    ASSERT_TRUE(DeleteFileW(path_.c_str()));
    WriteLog(narrowPath_.c_str(), "a", "two\n");
    EXPECT_EQ(ReadFileBytes(path_), "two\r\n");
}

TEST_F(LogFile, LineIsDroppedWhenTheFileCannotBeOpened) {
    ASSERT_TRUE(WriteFileBytes(path_, "kept\r\n"));
    {
        ScopedFile lock(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(lock.Valid());
        WriteLog(narrowPath_.c_str(), "a", "lost while locked\n");
    }
    EXPECT_EQ(ReadFileBytes(path_), "kept\r\n");

    std::wstring missing = dir_ + L"\\no-such-dir\\bx.log";
    WriteLog(Narrow(missing).c_str(), "a", "lost, no directory\n");
    EXPECT_FALSE(PathExists(dir_ + L"\\no-such-dir"));

    // Once the lock is gone, lines arrive again.
    WriteLog(narrowPath_.c_str(), "a", "after\n");
    EXPECT_EQ(ReadFileBytes(path_), "kept\r\nafter\r\n");
}

TEST(TextConvert, EmptyStringsConvertToEmptyAndReplaceTheResult) {
    std::wstring wide = L"stale";
    AnsiToWide("", wide);
    EXPECT_EQ(wide, L"");

    std::string narrow = "stale";
    WideToAnsi(L"", narrow);
    EXPECT_EQ(narrow, "");
}

TEST(TextConvert, ConversionReplacesRatherThanAppends) {
    std::wstring wide = L"old";
    AnsiToWide("1.0.3", wide);
    EXPECT_EQ(wide, L"1.0.3");

    std::string narrow = "old";
    WideToAnsi(L"http://127.0.0.1:8008/a b%20c", narrow);
    EXPECT_EQ(narrow, "http://127.0.0.1:8008/a b%20c");
}

TEST(TextConvert, RoundTripKeepsText) {
    const std::string texts[] = {"x", "C:\\Games\\bin\\Orvex.dll",
                                 "d41d8cd98f00b204e9800998ecf8427e", std::string(5000, 'v')};
    for (const std::string& text : texts) {
        std::wstring wide;
        AnsiToWide(text.c_str(), wide);
        EXPECT_EQ(wide.size(), text.size());
        std::string back;
        WideToAnsi(wide.c_str(), back);
        EXPECT_EQ(back, text);
    }
}

TEST(TextConvert, UsesTheAnsiCodePageNotUtf8) {
    if (GetACP() != 1252) GTEST_SKIP() << "expected values are for code page 1252";
    std::wstring wide;
    AnsiToWide("caf\xE9", wide);
    EXPECT_EQ(wide, L"caf\u00E9");
    std::string narrow;
    WideToAnsi(L"caf\u00E9", narrow);
    EXPECT_EQ(narrow, "caf\xE9");
}

std::wstring IntText(int value, int radix = 10) {
    wchar_t buffer[kIntTextChars];
    for (wchar_t& c : buffer) c = L'#';
    IntToWide(value, buffer, radix);
    return buffer;
}

TEST(TextConvert, IntToWideWritesSignedDecimal) {
    EXPECT_EQ(IntText(0), L"0");
    EXPECT_EQ(IntText(8008), L"8008");
    EXPECT_EQ(IntText(-1), L"-1");
    EXPECT_EQ(IntText(-42), L"-42");
    EXPECT_EQ(IntText(INT_MAX), L"2147483647");
    EXPECT_EQ(IntText(INT_MIN), L"-2147483648");
}

TEST(TextConvert, IntToWideOfAnUnsignedValueAbove2To31IsNegative) {
    // A tick count after about 24.8 days of uptime, passed on as a signed integer.
    DWORD ticks = 2147483648u + 1000u;
    EXPECT_EQ(IntText(static_cast<int>(ticks)), L"-2147482648");
    EXPECT_EQ(IntText(static_cast<int>(0xFFFFFFFFu)), L"-1");
}

TEST(TextConvert, IntToWideLongestTextFitsTheBuffer) {
    // Radix 2 gives the longest text; other radices take the value as unsigned.
    EXPECT_EQ(IntText(INT_MIN, 2), L"1" + std::wstring(31, L'0'));
    EXPECT_EQ(IntText(-1, 2), std::wstring(32, L'1'));
    EXPECT_EQ(IntText(-1, 16), L"ffffffff");
}

}  // namespace
