#include "updater/XmlLimits.h"

#include <windows.h>

#include <cstring>

#include "support/ScopedHandle.h"

namespace {

// Index just past the first occurrence of terminator at or after from, or the end.
size_t SkipPast(const std::string& text, size_t from, const char* terminator) {
    size_t at = text.find(terminator, from);
    return at == std::string::npos ? text.size() : at + std::strlen(terminator);
}

bool StartsAt(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

}  // namespace

bool XmlDepthWithinLimit(const std::string& text) {
    int depth = 0;
    size_t i = 0;
    while ((i = text.find('<', i)) != std::string::npos) {
        if (StartsAt(text, i, "<!--")) {
            i = SkipPast(text, i + 4, "-->");
        } else if (StartsAt(text, i, "<![CDATA[")) {
            i = SkipPast(text, i + 9, "]]>");
        } else if (StartsAt(text, i, "<?") || StartsAt(text, i, "<!")) {
            i = SkipPast(text, i + 2, ">");
        } else if (StartsAt(text, i, "</")) {
            if (depth > 0) --depth;
            i = SkipPast(text, i + 2, ">");
        } else {
            // An element's start tag: to its '>' outside quoted attribute values.
            char quote = 0;
            size_t j = i + 1;
            for (; j < text.size(); ++j) {
                char c = text[j];
                if (quote != 0) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            bool empty = j < text.size() && text[j - 1] == '/';
            if (!empty && ++depth > kMaxXmlDepth) return false;
            i = j;
        }
    }
    return true;
}

bool XmlFileWithinLimits(const std::wstring& path) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.Get(), &size)) return false;
    if (size.QuadPart < 0 || size.QuadPart > static_cast<LONGLONG>(kMaxXmlDocumentBytes))
        return false;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() &&
        (!ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) ||
         read != text.size()))
        return false;
    return XmlDepthWithinLimit(text);
}
