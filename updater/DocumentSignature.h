// Detached signatures of the update documents: "<document URL>.sig" holds the studio's ECDSA
// P-256 signature (r then s, 64 bytes) of the SHA-256 of the document's exact bytes.
#pragma once

#include <string>

// Downloads the signature of documentUrl (with a "?tick=" query) into memory and checks it
// over document, the bytes that arrived, with each built-in key. False without a key, when
// no signature arrives, and for a wrong one.
bool DocumentSignedByStudio(const std::wstring& documentUrl, const std::string& document);
