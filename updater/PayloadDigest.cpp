#include "updater/PayloadDigest.h"

#include <windows.h>

#include "support/Log.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"

bool PayloadMatchesDigest(const std::string& expected, const std::wstring& file,
                          const std::wstring& url) {
    if (expected.empty() || FileMatchesSha256(expected.c_str(), file.c_str())) return true;
    DeleteFileW(file.c_str());
    std::string narrowUrl;
    WideToAnsi(url.c_str(), narrowUrl);
    WriteLog("bx.log", "a", "sha256 mismatch (%s)\n", narrowUrl.c_str());
    return false;
}
