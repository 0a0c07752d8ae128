#include "updater/PartialDownload.h"

#include <cwchar>

#include "installation/RecordFile.h"
#include "support/TextConvert.h"

namespace {

// The reader strips quotes around a value, and an ETag is quoted: the validator is kept
// behind this mark.
constexpr const wchar_t* kValidatorMark = L"v:";

bool ParseTotal(const std::wstring& text, ULONGLONG& total) {
    if (text.empty() || text.size() > 20) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    total = std::wcstoull(text.c_str(), nullptr, 10);
    return total != 0 && total != ~0ULL;
}

}  // namespace

std::wstring PartialPath(const std::wstring& target) { return target + L".download"; }

std::wstring PartialRecordPath(const std::wstring& target) { return target + L".download.resume"; }

bool FileLength(const std::wstring& path, ULONGLONG& length) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    length = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool WritePartialRecord(const std::wstring& target, const PartialRecord& record) {
    // Written whole beside the old record and moved over it: a record cut short by a crash
    // is never read as one that proves a continuation.
    const std::wstring file = PartialRecordPath(target);
    const std::wstring next = file + L".new";
    DeleteFileW(next.c_str());
    std::wstring sha256;
    AnsiToWide(record.sha256.c_str(), sha256);
    bool written =
        WritePrivateProfileStringW(L"conf", L"url", record.url.c_str(), next.c_str()) &&
        WritePrivateProfileStringW(L"conf", L"sha256", sha256.c_str(), next.c_str()) &&
        WritePrivateProfileStringW(L"conf", L"validator",
                                   (kValidatorMark + record.validator).c_str(), next.c_str()) &&
        WritePrivateProfileStringW(L"conf", L"total", std::to_wstring(record.total).c_str(),
                                   next.c_str()) &&
        MoveFileExW(next.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!written) DeleteFileW(next.c_str());
    return written;
}

bool ReadPartialRecord(const std::wstring& target, PartialRecord& record) {
    const std::wstring file = PartialRecordPath(target);
    const std::wstring validator = ReadRecordValue(file, L"validator");
    const std::wstring mark = kValidatorMark;
    if (validator.compare(0, mark.size(), mark) != 0) return false;
    if (!ParseTotal(ReadRecordValue(file, L"total"), record.total)) return false;
    record.validator = validator.substr(mark.size());
    record.url = ReadRecordValue(file, L"url");
    WideToAnsi(ReadRecordValue(file, L"sha256").c_str(), record.sha256);
    return !record.url.empty();
}

ResumePoint PartialResumePoint(const std::wstring& target, const std::wstring& url,
                               const std::string& sha256) {
    PartialRecord record;
    ULONGLONG size = 0;
    if (!ReadPartialRecord(target, record) || record.url != url || record.sha256 != sha256 ||
        (record.validator.empty() && record.sha256.empty()) ||
        !FileLength(PartialPath(target), size) || size == 0 || size >= record.total)
        return ResumePoint();
    ResumePoint from;
    from.offset = size;
    from.total = record.total;
    from.validator = record.validator;
    return from;
}

void DiscardPartial(const std::wstring& target) {
    DeleteFileW(PartialPath(target).c_str());
    DeleteFileW(PartialRecordPath(target).c_str());
}
