#include "installation/VersionRecord.h"

#include "installation/ChangeSeam.h"
#include "installation/RecordFile.h"

namespace {

bool BeforeVersionReplace(const wchar_t* file) {
    return BeforeInstallChange(ChangeKind::Version, file);
}

}  // namespace

std::wstring ReadVersionRecord(const std::wstring& versionFile) {
    return ReadRecordValue(versionFile, L"version");
}

bool WriteVersionRecord(const std::wstring& versionFile, const std::wstring& version) {
    return WriteRecordValue(versionFile, L"version", version, BeforeVersionReplace);
}
