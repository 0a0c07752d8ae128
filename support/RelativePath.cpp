#include "support/RelativePath.h"

#include <cwctype>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsInvalidNameChar(wchar_t c) {
    return c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' ||
           c == L'|';
}

// The file system drops trailing dots and blanks from a component, so "..." and ".. " open
// the parent or the directory itself just as ".." and "." do.
bool IsOnlyDotsAndBlanks(const std::wstring& part) {
    for (wchar_t c : part) {
        if (c != L'.' && c != L' ') return false;
    }
    return true;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 name devices in every directory, with any extension
// and any trailing dots or blanks.
bool IsDeviceName(const std::wstring& part) {
    std::wstring base = Upper(part.substr(0, part.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 &&
           (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'0' && base[3] <= L'9';
}

}  // namespace

bool IsContainedRelativePath(const std::wstring& name) {
    if (name.empty() || IsSeparator(name[0]) || IsSeparator(name.back())) return false;
    int depth = 0;
    bool endsInName = false;  // "a/.." or "a/." would name a directory
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        std::wstring part = name.substr(start, end - start);
        start = end + 1;
        endsInName = false;
        if (part.empty() || part == L".") continue;  // "a//b" and "a/./b" stay where they are
        if (part == L"..") {
            if (--depth < 0) return false;
            continue;
        }
        if (IsOnlyDotsAndBlanks(part) || IsDeviceName(part)) return false;
        for (wchar_t c : part) {
            if (IsInvalidNameChar(c)) return false;
        }
        ++depth;
        endsInName = true;
    }
    return endsInName;
}
