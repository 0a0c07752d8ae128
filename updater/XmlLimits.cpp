#include "updater/XmlLimits.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// The scan reads the bytes the way TinyXML 2.6 does, so that no element the parser builds
// goes uncounted. Where the parser would stop with an error, what follows no longer matters.
using Text = std::string_view;
constexpr size_t kEnd = Text::npos;

bool StartsAt(Text text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// ASCII case only, as the parser compares "<?xml" and the declaration's keywords.
bool StartsAtNoCase(Text text, size_t at, const char* prefix) {
    for (size_t k = 0; prefix[k] != '\0'; ++k, ++at) {
        if (at >= text.size()) return false;
        char c = text[at];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[k]) return false;
    }
    return true;
}

// Index just past the first occurrence of terminator at or after from, or the end.
size_t SkipPast(Text text, size_t from, const char* terminator) {
    size_t at = text.find(terminator, from);
    return at == kEnd ? text.size() : at + std::strlen(terminator);
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The parser's letters include every byte above 126.
bool IsNameStart(char c) {
    return static_cast<unsigned char>(c) >= 127 || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

// In UTF-8 mode the parser also skips these three-byte sequences as blanks.
size_t SkipSpace(Text text, size_t i, bool utf8) {
    while (i < text.size()) {
        if (utf8 && (StartsAt(text, i, "\xEF\xBB\xBF") || StartsAt(text, i, "\xEF\xBF\xBE") ||
                     StartsAt(text, i, "\xEF\xBF\xBF"))) {
            i += 3;
        } else if (IsSpace(text[i])) {
            ++i;
        } else {
            break;
        }
    }
    return i;
}

// One "name = value" of a declaration from its name at i; kEnd where the parser fails.
size_t ReadAttribute(Text text, size_t i, bool utf8, std::string& value) {
    while (i < text.size() && IsNameChar(text[i])) ++i;
    i = SkipSpace(text, i, utf8);
    if (i >= text.size() || text[i] != '=') return kEnd;
    i = SkipSpace(text, i + 1, utf8);
    if (i >= text.size()) return kEnd;
    char quote = text[i];
    if (quote == '"' || quote == '\'') {
        size_t close = text.find(quote, i + 1);
        if (close == kEnd) return kEnd;
        value.assign(text.substr(i + 1, close - i - 1));
        return close + 1;
    }
    size_t start = i;
    for (; i < text.size() && !IsSpace(text[i]) && text[i] != '/' && text[i] != '>'; ++i) {
        if (text[i] == '"' || text[i] == '\'') return kEnd;
    }
    value.assign(text.substr(start, i - start));
    return i;
}

// Past the declaration "<?xml" at i, which ends at a '>' outside the quoted values of its
// three keywords; kEnd where the parser fails. Its "encoding" value lands in encoding.
size_t SkipDeclaration(Text text, size_t i, bool utf8, std::string& encoding) {
    for (i += 5; i < text.size();) {
        if (text[i] == '>') return i + 1;
        i = SkipSpace(text, i, utf8);
        if (i >= text.size()) break;
        bool isEncoding = StartsAtNoCase(text, i, "encoding");
        if (isEncoding || StartsAtNoCase(text, i, "version") ||
            StartsAtNoCase(text, i, "standalone")) {
            std::string value;
            i = ReadAttribute(text, i, utf8, value);
            if (i == kEnd) break;
            if (isEncoding) encoding = value;
        } else {
            while (i < text.size() && text[i] != '>' && !IsSpace(text[i])) ++i;
        }
    }
    return kEnd;
}

// Whether the parser goes on in UTF-8 after a first declaration with this encoding: none,
// a name starting "UTF-8" or "UTF8", and (whatever they spell) entities.
bool NamesUtf8(Text encoding) {
    return encoding.empty() || encoding.find('&') != kEnd || StartsAtNoCase(encoding, 0, "utf-8") ||
           StartsAtNoCase(encoding, 0, "utf8");
}

// The bytes of the character a lead byte starts, as the parser counts them in UTF-8 mode.
size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// In UTF-8 mode the parser takes a lead byte and the bytes after it as one character, so a
// '<' or a quote among them goes unseen, and one at the end makes it read past the text.
bool LeadBytesHideNothing(Text text) {
    for (size_t i = 0; i < text.size(); ++i) {
        size_t length = Utf8Length(static_cast<unsigned char>(text[i]));
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            char c = text[i + k];
            if (c == '<' || c == '"' || c == '\'') return false;
        }
    }
    return true;
}

}  // namespace

bool XmlDepthWithinLimit(const std::string& bytes) {
    // The parser sees the bytes up to the first NUL.
    const Text text(bytes.data(), std::min(bytes.find('\0'), bytes.size()));
    bool utf8 = StartsAt(text, 0, "\xEF\xBB\xBF");
    bool encodingKnown = utf8;
    int depth = 0;
    size_t i = 0;
    while (i < text.size() && (i = text.find('<', i)) != kEnd) {
        if (StartsAtNoCase(text, i, "<?xml")) {
            std::string encoding;
            i = SkipDeclaration(text, i, utf8, encoding);
            // Only the first declaration on the top level sets the parser's encoding.
            if (!encodingKnown && depth == 0) {
                encodingKnown = true;
                utf8 = NamesUtf8(encoding);
            }
        } else if (StartsAt(text, i, "<!--")) {
            i = SkipPast(text, i + 4, "-->");
        } else if (StartsAt(text, i, "<![CDATA[")) {
            i = SkipPast(text, i + 9, "]]>");
        } else if (StartsAt(text, i, "</")) {
            if (depth > 0) --depth;
            i = SkipPast(text, i + 2, ">");
        } else if (i + 1 < text.size() && IsNameStart(text[i + 1])) {
            // A start tag, to its '>' outside quoted values. An empty element is nested as
            // deep as one with content.
            if (++depth > kMaxXmlDepth) return false;
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
            if (j < text.size() && text[j - 1] == '/') --depth;
            i = j;
        } else {
            i = SkipPast(text, i + 1, ">");  // "<!", "<?", "< ": the parser skips them to '>'
        }
    }
    return !utf8 || LeadBytesHideNothing(text);
}

bool XmlTextWithinLimits(const std::string& text) {
    return text.size() <= kMaxXmlDocumentBytes && XmlDepthWithinLimit(text);
}
