// Download-and-parse of the update server's XML documents, shared by the version manifest
// and the file check list. A document is read once into memory; what is verified and what is
// parsed are those same bytes, and no copy of it goes to disk.
#pragma once

#include <string>

#include "tinyxml.h"

// What a document must satisfy, with a signing key built in, beyond arriving whole.
struct DocumentTrust {
    // The digest text its bytes must have (the check list that the signed manifest names).
    // When set it stands in for the document's own signature; when empty the signature
    // "<baseUrl>.sig" must be good.
    std::string pinnedSha256;
    // Called on the root of a verified, parsed document; false refuses it and logs why.
    bool (*acceptRoot)(const TiXmlElement& root) = nullptr;
};

// Up to three attempts: download baseUrl with a "?tick=" query (at most kMaxXmlDocumentBytes)
// and parse it into document. A failed download appends failureMessage (its "%d" the
// last-error code) to "bx.log". With a signing key built in, a document that trust refuses
// is not used, and logged. Returns the document's first "root" element, or null after three
// failures.
const TiXmlElement* FetchXmlDocument(const std::wstring& baseUrl, const char* failureMessage,
                                     TiXmlDocument& document, const DocumentTrust& trust = {});

// The parser's reading of a document's bytes, as it reads a file (line ends normalised, up
// to the first NUL), after the size and depth limits; false when it fails either.
bool ParseXmlBytes(const std::string& bytes, TiXmlDocument& document);
