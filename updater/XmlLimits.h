// Bounds on the server's XML documents, checked before the parser sees them: the parser
// builds and destroys nodes recursively, so a deeply nested document from the network
// would overflow the updater thread's stack.
#pragma once

#include <string>

constexpr size_t kMaxXmlDocumentBytes = 1024 * 1024;
constexpr int kMaxXmlDepth = 64;

// True when no element of the document is nested deeper than kMaxXmlDepth (the top-level
// element counts as depth 1), over its bytes, read as the parser reads them (up to
// the first NUL, with its encoding detection). Also false when the parser would read the
// text in UTF-8 and a lead byte there would hide a '<' or a quote from it, or run past the
// end: the scan could not count what follows the way the parser does.
bool XmlDepthWithinLimit(const std::string& text);

// Both rules, size and depth, over the bytes of a document.
bool XmlTextWithinLimits(const std::string& text);
