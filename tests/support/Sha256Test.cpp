// SHA-256 of files through the platform's provider, and the digest texts the update documents
// give, against published test vectors.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "support/Sha256.h"
#include "support/TestPaths.h"

namespace {

const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class Sha256 : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir(L"sha256");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { RemoveTree(dir_); }
    std::wstring File(const std::string& bytes) {
        std::wstring path = dir_ + L"\\f" + std::to_wstring(++files_) + L".bin";
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }

    std::wstring dir_;
    int files_ = 0;
};

TEST_F(Sha256, FilesMatchThePublishedVectors) {
    struct Case {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", kAbc.c_str()},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // Many read chunks, and one cut short by the file's end.
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        std::wstring path = File(c.bytes);
        EXPECT_TRUE(FileMatchesSha256(c.digest, path.c_str())) << c.bytes.size();
        std::string other = c.digest;
        other[63] = other[63] == '0' ? '1' : '0';
        EXPECT_FALSE(FileMatchesSha256(other.c_str(), path.c_str())) << c.bytes.size();
    }
}

TEST_F(Sha256, DigestTextsAreSixtyFourDigitsOfEitherCase) {
    std::wstring abc = File("abc");
    std::string upper = kAbc;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        std::string text;
        bool matches;
    } cases[] = {
        {upper, true},
        {kAbc.substr(0, 63), false},
        {kAbc + "0", false},
        {kAbc + " ", false},
        {" " + kAbc.substr(1), false},
        {kAbc.substr(0, 62) + "g" + kAbc.substr(63), false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSha256Text(c.text.c_str()), c.matches) << c.text;
        EXPECT_EQ(FileMatchesSha256(c.text.c_str(), abc.c_str()), c.matches) << c.text;
    }
    EXPECT_FALSE(IsSha256Text(nullptr));
    EXPECT_FALSE(FileMatchesSha256(nullptr, abc.c_str()));
    EXPECT_FALSE(FileMatchesSha256(kAbc.c_str(), (dir_ + L"\\missing").c_str()));
}

}  // namespace
