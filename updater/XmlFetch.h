// Download-and-parse of the update server's XML documents, shared by the version manifest
// and the file check list.
#pragma once

#include <string>

#include "tinyxml.h"

// The system's temporary directory followed by name; empty when it cannot be formed.
std::wstring TempFilePath(const wchar_t* name);

// Up to three attempts: download baseUrl with a "?tick=" query into tempPath and parse it
// into document. A failed download appends failureMessage (its "%d" the last-error code)
// to "bx.log". With a signing key built in, a document whose signature ("<baseUrl>.sig") is
// missing or wrong is not parsed, and logged. Returns the document's first "root" element, or
// null after three failures.
const TiXmlElement* FetchXmlDocument(const std::wstring& baseUrl, const std::wstring& tempPath,
                                     const char* failureMessage, TiXmlDocument& document);
