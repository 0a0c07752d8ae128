#include "updater/FileCheckList.h"

#include <string>

#include "support/FileDigest.h"
#include "support/Log.h"
#include "support/RelativePath.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"
#include "updater/InstallDir.h"
#include "updater/SigningKey.h"
#include "updater/UpdateServer.h"
#include "updater/UpdaterState.h"
#include "updater/XmlFetch.h"

namespace {

// A record for a file entry, or false when the entry cannot be used: the list comes from the
// network, so a name that would reach outside the installation is dropped, not obeyed.
bool MakeRecord(const TiXmlElement& entry, CheckFileRecord& record) {
    const char* name = entry.Attribute("name");
    const char* md5 = entry.Attribute("md5");
    const char* url = entry.Attribute("remote_file_url");
    // An empty digest never matches and an empty URL never downloads: such an entry would
    // only fail its repair on every run.
    if (name == nullptr || md5 == nullptr || url == nullptr || *md5 == '\0' || *url == '\0')
        return false;
    AnsiToWide(name, record.name);
    if (!IsContainedRelativePath(record.name)) return false;
    // With a studio's key every repair file must be covered by the signed list's digest.
    const char* sha256 = entry.Attribute("sha256");
    if (SigningKeyBuiltIn() && !IsSha256Text(sha256)) return false;
    AnsiToWide(url, record.remote_file_url);
    record.md5 = md5;
    record.sha256 = sha256 != nullptr ? sha256 : "";
    record.needs_repair = false;
    return true;
}

}  // namespace

bool GetCheckFileList() {
    // With a studio's key only the check list of the signed manifest's snapshot is read; a
    // manifest that names none leaves nothing to accept, so nothing is requested.
    DocumentTrust trust;
    trust.pinnedSha256 = TheUpdaterState().checklistSha256;
    if (SigningKeyBuiltIn() && trust.pinnedSha256.empty()) {
        WriteLog("bx.log", "a", "update version without checklist_sha256\n");
        return false;
    }
    TiXmlDocument document;
    const TiXmlElement* root =
        FetchXmlDocument(kCheckListUrl, "get file check list failed(%d)\n", document, trust);
    return root != nullptr && RecordCheckFiles(*root);
}

bool RecordCheckFiles(const TiXmlElement& root) {
    UpdaterState& state = TheUpdaterState();
    const char* listVersion = root.Attribute("version");
    std::wstring version;
    AnsiToWide(listVersion, version);
    if (listVersion == nullptr || version != state.currentVersion) return true;

    std::wstring installDir = InstallDirOrDefault();
    if (installDir.empty()) return true;  // nowhere to check against

    // The first "file" child and every later sibling, whatever its element name.
    for (const TiXmlElement* entry = root.FirstChildElement("file"); entry != nullptr;
         entry = entry->NextSiblingElement()) {
        CheckFileRecord record;
        if (MakeRecord(*entry, record)) state.checkFiles.push_back(record);
    }
    for (CheckFileRecord& record : state.checkFiles) {
        std::wstring path = installDir + record.name;
        record.needs_repair = !FileMatchesMd5(record.md5.c_str(), path.c_str());
    }
    return true;
}
