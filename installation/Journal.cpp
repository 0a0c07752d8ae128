#include "installation/Journal.h"

#include <cwchar>

#include "installation/ChangeSeam.h"
#include "support/ScopedHandle.h"

namespace {

// UTF-16 lines "<tag> <value>", closed by an "end" line, so a cut file never reads as whole.
const wchar_t kHeader[] = L"orvex-journal 1";
constexpr DWORD kMaxJournalBytes = 64u << 20;

bool StartsWith(const std::wstring& line, const wchar_t* tag, std::wstring& rest) {
    size_t length = std::wcslen(tag);
    if (line.compare(0, length, tag) != 0 || line.size() < length + 1 || line[length] != L' ')
        return false;
    rest = line.substr(length + 1);
    return true;
}

// Names and versions come from our own writer, but a line break inside one would split it.
bool OneLine(const std::wstring& text) { return text.find_first_of(L"\r\n") == std::wstring::npos; }

std::wstring Serialise(const Journal& journal) {
    std::wstring text = std::wstring(kHeader) + L"\n";
    text += L"op " + journal.operation + L"\n";
    text += L"from " + journal.fromVersion + L"\n";
    text += L"to " + journal.toVersion + L"\n";
    for (const std::wstring& dir : journal.createdDirs) text += L"dir " + dir + L"\n";
    for (const JournalEntry& entry : journal.entries) {
        if (entry.replaced) {
            wchar_t attributes[16];
            swprintf(attributes, 16, L"%08lX", static_cast<unsigned long>(entry.attributes));
            text += L"replace " + std::wstring(attributes) + L" " + entry.name + L"\n";
        } else {
            text += L"add " + entry.name + L"\n";
        }
    }
    return text + L"end\n";
}

bool ParseLine(const std::wstring& line, Journal& journal) {
    std::wstring rest;
    if (StartsWith(line, L"op", rest)) {
        journal.operation = rest;
    } else if (StartsWith(line, L"from", rest)) {
        journal.fromVersion = rest;
    } else if (StartsWith(line, L"to", rest)) {
        journal.toVersion = rest;
    } else if (StartsWith(line, L"dir", rest)) {
        journal.createdDirs.push_back(rest);
    } else if (StartsWith(line, L"add", rest) && !rest.empty()) {
        journal.entries.push_back(JournalEntry{rest, false, 0});
    } else if (StartsWith(line, L"replace", rest) && rest.size() > 9 && rest[8] == L' ') {
        wchar_t* end = nullptr;
        unsigned long attributes = std::wcstoul(rest.substr(0, 8).c_str(), &end, 16);
        if (end == nullptr || *end != L'\0') return false;
        journal.entries.push_back(JournalEntry{rest.substr(9), true, attributes});
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool JournalExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteJournal(const std::wstring& path, const Journal& journal) {
    if (!OneLine(journal.operation) || !OneLine(journal.fromVersion) || !OneLine(journal.toVersion))
        return false;
    for (const JournalEntry& entry : journal.entries)
        if (!OneLine(entry.name)) return false;
    for (const std::wstring& dir : journal.createdDirs)
        if (!OneLine(dir)) return false;
    std::wstring text = Serialise(journal);
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (text.size() * sizeof(wchar_t) > kMaxJournalBytes) return false;

    std::wstring next = path + L".new";
    {
        ScopedFile file(CreateFileW(next.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        bool ok = WriteFile(file.Get(), text.data(), bytes, &written, nullptr) != FALSE &&
                  written == bytes && FlushFileBuffers(file.Get()) != FALSE;
        if (!ok) {
            file.Close();
            DeleteFileW(next.c_str());
            return false;
        }
    }
    if (!BeforeInstallChange(ChangeKind::Journal, path.c_str()) ||
        !MoveFileExW(next.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileW(next.c_str());
        SetLastError(error);
        return false;
    }
    return true;
}

bool ReadJournal(const std::wstring& path, Journal& journal) {
    journal = Journal();
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxJournalBytes ||
        size.QuadPart % sizeof(wchar_t) != 0)
        return false;
    std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    DWORD bytes = static_cast<DWORD>(size.QuadPart);
    if (bytes > 0 && (!ReadFile(file.Get(), &text[0], bytes, &read, nullptr) || read != bytes))
        return false;

    size_t start = 0;
    bool header = false;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) return false;  // cut short
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!header) {
            if (line != kHeader) return false;
            header = true;
        } else if (line == L"end") {
            return start == text.size() && !journal.operation.empty();
        } else if (!ParseLine(line, journal)) {
            return false;
        }
    }
    return false;
}
