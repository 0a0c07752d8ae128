// The partial file of a package or patch download, "<final name>.download", and beside it
// the record "<final name>.download.resume" of what it is part of. Together they let a later
// attempt, in this run or at a later start, continue the download instead of starting over.
#pragma once

#include <windows.h>

#include <string>

#include "http/ResumableDownload.h"

struct PartialRecord {
    std::wstring url;        // as the document names it, without a cache-busting query
    std::wstring validator;  // what the server called the file, for If-Range
    ULONGLONG total = 0;     // the whole file's length
    std::string sha256;      // what the document expects of it; empty when it gives none
};

std::wstring PartialPath(const std::wstring& target);        // target + ".download"
std::wstring PartialRecordPath(const std::wstring& target);  // target + ".download.resume"

// Replaces the record of target's partial file. False when it could not be written.
bool WritePartialRecord(const std::wstring& target, const PartialRecord& record);

// The record, when there is a whole one (a total above 0 included).
bool ReadPartialRecord(const std::wstring& target, PartialRecord& record);

// Where the partial file of url can be continued: its size, when it is above 0 and below the
// recorded total, the record names url and sha256 (or both name none), and a validator or
// sha256 proves a continuation is the same file. Otherwise an offset of 0.
ResumePoint PartialResumePoint(const std::wstring& target, const std::wstring& url,
                               const std::string& sha256);

// Deletes the partial file and its record.
void DiscardPartial(const std::wstring& target);

// The size of a file; false when it cannot be read.
bool FileLength(const std::wstring& path, ULONGLONG& length);
