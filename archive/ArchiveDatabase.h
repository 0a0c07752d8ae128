// The opened archive's table of entries.
#pragma once

#include <7z.h>

#include <string>
#include <vector>

// The Windows attribute bits of an entry's attribute word. Archives made on Unix-like
// systems set 0x8000 and keep the file mode in the high 16 bits, which are no Windows
// attributes.
UInt32 FileAttributesOfEntry(UInt32 word);

class ArchiveDatabase {
  public:
    ArchiveDatabase() { SzArEx_Init(&db_); }
    ~ArchiveDatabase() { Free(); }
    ArchiveDatabase(const ArchiveDatabase&) = delete;
    ArchiveDatabase& operator=(const ArchiveDatabase&) = delete;

    // Reads the archive's headers; false for anything that is no readable 7z archive.
    bool Open(ILookInStreamPtr stream);
    void Free();  // idempotent

    const CSzArEx& Get() const { return db_; }
    UInt32 Count() const { return db_.NumFiles; }
    bool IsDirectory(UInt32 index) const { return SzArEx_IsDir(&db_, index); }

    // The stored name, copied through buffer, which grows to the longest name so far.
    std::wstring Name(UInt32 index, std::vector<UInt16>& buffer) const;

    // False when the archive stores no attributes for the entry.
    bool Attributes(UInt32 index, UInt32* attributes) const;

  private:
    CSzArEx db_;
};
