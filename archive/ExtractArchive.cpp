#include "archive/ExtractArchive.h"

#include <windows.h>

#include <7zCrc.h>

#include <string>
#include <vector>

#include "archive/ArchiveDatabase.h"
#include "archive/ArchiveInput.h"
#include "archive/OutputFile.h"
#include "archive/SolidBlockCache.h"
#include "support/PathUtils.h"
#include "support/RelativePath.h"

namespace {

constexpr size_t kMaxPathChars = MAX_PATH - 1;  // the fixed path buffers' terminator excluded

struct Extraction {
    const std::wstring root;
    ArchiveDatabase& db;
    ILookInStreamPtr stream;
    SolidBlockCache cache;
    std::vector<UInt16> names;
    std::vector<std::wstring>* written;
};

bool WriteEntry(const std::wstring& path, const Byte* data, size_t size) {
    OutputFile file;
    if (!file.Open(path.c_str())) return false;
    if (!file.WriteAll(data, size)) {
        file.Close();  // the partial file stays, closed
        return false;
    }
    return file.Close();
}

bool ExtractEntry(Extraction& run, UInt32 index) {
    if (run.db.IsDirectory(index)) return true;  // directories come only as parents of files

    std::wstring name = run.db.Name(index, run.names);
    // Names come from the network: one that leaves the root, or a path that cannot be
    // named in full, fails the entry rather than write somewhere else.
    if (!IsContainedRelativePath(name)) return false;
    std::wstring path = run.root + L"\\" + name;
    if (path.size() > kMaxPathChars) return false;

    CreateDirectoryPath(GetParentPath(path).c_str());

    const Byte* data = nullptr;
    size_t size = 0;
    if (!run.cache.Extract(run.db.Get(), run.stream, index, &data, &size)) return false;
    if (!WriteEntry(path, data, size)) return false;

    UInt32 attributes = 0;
    if (run.db.Attributes(index, &attributes)) {
        SetFileAttributesW(path.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    if (run.written != nullptr) {
        std::wstring relative = path.substr(run.root.size() + 1);
        for (wchar_t& c : relative) c = c == L'/' ? L'\\' : c;
        run.written->push_back(relative);
    }
    return true;
}

bool Extract(const wchar_t* archivePath, const wchar_t* destinationRoot,
             std::vector<std::wstring>* written) {
    ArchiveInput input;
    if (!input.Open(archivePath)) return false;
    CrcGenerateTable();

    ArchiveDatabase db;
    if (!db.Open(input.Stream())) return false;

    Extraction run{destinationRoot, db, input.Stream(), {}, {}, written};
    for (UInt32 index = 0; index < db.Count(); ++index) {
        if (!ExtractEntry(run, index)) return false;
    }
    return true;
}

}  // namespace

bool ExtractArchive(const wchar_t* archivePath, const wchar_t* destinationRoot,
                    std::vector<std::wstring>* written) {
    if (archivePath == nullptr || destinationRoot == nullptr) return false;
    try {
        return Extract(archivePath, destinationRoot, written);
    } catch (...) {  // out of memory for a name or a path: the call fails, nothing escapes
        return false;
    }
}
