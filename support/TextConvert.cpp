#include "support/TextConvert.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

void AnsiToWide(const char* source, std::wstring& result) {
    result.clear();
    if (source == nullptr) return;
    int count = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
    if (count <= 0) return;
    std::vector<wchar_t> buffer(static_cast<size_t>(count), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, source, -1, buffer.data(), count) <= 0) return;
    result.assign(buffer.data());
}

void WideToAnsi(const wchar_t* source, std::string& result) {
    result.clear();
    if (source == nullptr) return;
    int count = WideCharToMultiByte(CP_ACP, 0, source, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return;
    std::vector<char> buffer(static_cast<size_t>(count), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, source, -1, buffer.data(), count, nullptr, nullptr) <= 0)
        return;
    result.assign(buffer.data());
}

bool Utf8ToWide(const std::string& source, std::wstring& result) {
    result.clear();
    if (source.empty()) return true;
    if (source.find('\0') != std::string::npos || source.size() > 0x7fffffff) return false;
    const int length = static_cast<int>(source.size());
    int count =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, source.data(), length, nullptr, 0);
    if (count <= 0) return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(count), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, source.data(), length, buffer.data(),
                            count) != count)
        return false;
    result.assign(buffer.data(), buffer.size());
    return true;
}

void IntToWide(int value, wchar_t (&buffer)[kIntTextChars], int radix) {
    buffer[0] = L'\0';
    _itow_s(value, buffer, kIntTextChars, radix);
}

std::wstring DecimalText(int value) {
    wchar_t buffer[kIntTextChars];
    IntToWide(value, buffer, 10);
    return buffer;
}
