#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/FileDigest.h"
#include "support/Md5.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"

namespace {

constexpr size_t kChunk = 1u << 20;  // the digest's read size

struct Case {
    std::string bytes;
    const char* digest;  // from md5sum
};

// Deterministic content with no period that lines up with the MD5 block.
std::string Pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return bytes;
}

std::string BufferDigest(const std::string& bytes) {
    char text[33];
    EXPECT_EQ(Md5OfBuffer(text, reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<unsigned>(bytes.size())),
              1u);
    return text;
}

class FileDigest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir(L"md5");
        ASSERT_FALSE(dir_.empty());
        file_ = dir_ + L"\\f.bin";
    }
    void TearDown() override { RemoveTree(dir_); }

    // Digest text of the file, or "" when Md5OfFile gives none.
    static std::string FileDigestText(const std::wstring& path) {
        char text[33] = "unchanged";
        return Md5OfFile(text, path.c_str()) == 1 ? text : "";
    }

    std::wstring dir_;
    std::wstring file_;
};

TEST_F(FileDigest, FilesMatchKnownDigests) {
    const std::string kDigits = "1234567890";
    std::string eighty;
    for (int i = 0; i < 8; ++i) eighty += kDigits;
    const Case kCases[] = {
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {eighty, "57edf4a22be3c955ac49da2e2107b67a"},
        {Pattern(kChunk), "3f2c8bd9cfde6550fdff4b36617c3261"},
        {Pattern(kChunk + 1), "b68260e9a33f6d74165da80734481246"},
        {Pattern(3 * kChunk + 17), "c12b62456eb70165bf9d4e4581aa59de"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.bytes.size());
        ASSERT_TRUE(WriteFileBytes(file_, c.bytes));
        EXPECT_EQ(FileDigestText(file_), c.digest);
        EXPECT_EQ(BufferDigest(c.bytes), c.digest);
        EXPECT_TRUE(FileMatchesMd5(c.digest, file_.c_str()));
    }
}

TEST(Md5OfBuffer, PaddingBoundaries) {
    const Case kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {Pattern(55), "c9e512626618c9980ef21a96597af94c"},
        {Pattern(56), "ecde7caa08e9f5657c863df107cac60a"},
        {Pattern(63), "2f0301069e1c40af7f6c8f843b1b13f2"},
        {Pattern(64), "b6bf87c24b1bc334e2541387a92b981b"},
        {Pattern(65), "f168246f08b6134d66bd2a10343fa9f1"},
    };
    for (const Case& c : kCases) EXPECT_EQ(BufferDigest(c.bytes), c.digest) << c.bytes.size();
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdate) {
    std::string bytes = Pattern(3 * kChunk + 17);
    const size_t kPieces[] = {1, 63, 64, 65, 1000, kChunk};
    Md5 md5;
    for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
        size_t n = std::min(kPieces[i % 6], bytes.size() - at);
        md5.Update(reinterpret_cast<const unsigned char*>(bytes.data()) + at, n);
        at += n;
    }
    unsigned char digest[Md5::kDigestBytes];
    md5.Final(digest);
    char text[33];
    for (size_t i = 0; i < Md5::kDigestBytes; ++i) snprintf(text + 2 * i, 3, "%02x", digest[i]);
    EXPECT_STREQ(text, "c12b62456eb70165bf9d4e4581aa59de");
}

TEST_F(FileDigest, EmptyFileHasNoDigest) {
    ASSERT_TRUE(WriteFileBytes(file_, ""));
    EXPECT_EQ(FileDigestText(file_), "");
    EXPECT_FALSE(FileMatchesMd5("d41d8cd98f00b204e9800998ecf8427e", file_.c_str()));
}

TEST_F(FileDigest, OnlyTheExactLowercaseTextMatches) {
    ASSERT_TRUE(WriteFileBytes(file_, "abc"));
    EXPECT_TRUE(FileMatchesMd5("900150983cd24fb0d6963f7d28e17f72", file_.c_str()));
    const char* kMismatches[] = {"900150983CD24FB0D6963F7D28E17F72",
                                 "900150983cd24fb0d6963f7d28e17f72 ",
                                 "900150983cd24fb0d6963f7d28e17f7", "", nullptr};
    for (const char* expected : kMismatches) {
        EXPECT_FALSE(FileMatchesMd5(expected, file_.c_str())) << (expected ? expected : "null");
    }
}

TEST_F(FileDigest, PathsWithoutAFileHaveNoDigest) {
    char text[33];
    EXPECT_EQ(Md5OfFile(text, nullptr), 0u);
    EXPECT_EQ(Md5OfFile(text, L""), 0u);
    EXPECT_EQ(FileDigestText(dir_), "");
    EXPECT_EQ(FileDigestText(dir_ + L"\\missing.bin"), "");
    EXPECT_FALSE(FileMatchesMd5("d41d8cd98f00b204e9800998ecf8427e", dir_.c_str()));
}

TEST_F(FileDigest, OtherHandlesThatDenyOurSharingBlockTheDigest) {
    ASSERT_TRUE(WriteFileBytes(file_, "abc"));
    struct Holder {
        DWORD access;
        DWORD share;
        bool hashable;
    };
    const Holder kHolders[] = {
        {GENERIC_READ, 0, false},
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},  // we deny writers
        {GENERIC_READ, FILE_SHARE_READ, true},
    };
    for (const Holder& h : kHolders) {
        ScopedFile held(CreateFileW(file_.c_str(), h.access, h.share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(FileDigestText(file_), h.hashable ? "900150983cd24fb0d6963f7d28e17f72" : "")
            << h.access << " " << h.share;
    }
}

TEST_F(FileDigest, HandleIsHashedFromItsStartAndNeedsReadAccess) {
    ASSERT_TRUE(WriteFileBytes(file_, "abc"));
    char text[33];
    EXPECT_EQ(Md5OfHandle(text, INVALID_HANDLE_VALUE), 0u);

    ScopedFile reader(CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    ASSERT_NE(SetFilePointer(reader.Get(), 2, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    ASSERT_EQ(Md5OfHandle(text, reader.Get()), 1u);
    EXPECT_STREQ(text, "900150983cd24fb0d6963f7d28e17f72");

    ScopedFile attributesOnly(CreateFileW(file_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(attributesOnly);
    EXPECT_EQ(Md5OfHandle(text, attributesOnly.Get()), 0u);
}

}  // namespace
