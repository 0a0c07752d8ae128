#include "updater/VersionManifest.h"

#include <cstring>
#include <string>

#include "support/Log.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"
#include "updater/ManifestSerial.h"
#include "updater/SigningKey.h"
#include "updater/UpdateServer.h"
#include "updater/UpdaterState.h"
#include "updater/XmlFetch.h"

namespace {

// The values in force at the current level of the manifest.
struct ManifestValues {
    std::string start;
    std::string url;
    std::string sha256;  // of the archive that url names
    std::string version;

    // An attribute the element lacks keeps the value from the level above.
    void TakeFrom(const TiXmlElement& element) {
        Take(element, "start", start);
        // A digest belongs to the url of its own element: a new url without one has none,
        // rather than the digest of another archive.
        if (element.Attribute("url") != nullptr) sha256.clear();
        Take(element, "url", url);
        Take(element, "sha256", sha256);
        Take(element, "version", version);
    }

  private:
    static void Take(const TiXmlElement& element, const char* name, std::string& value) {
        const char* text = element.Attribute(name);
        if (text != nullptr) value = text;
    }
};

bool AttributeIs(const TiXmlElement& element, const char* name, const std::string& expected) {
    const char* text = element.Attribute(name);
    return text != nullptr && std::strcmp(text, expected.c_str()) == 0;
}

// The first candidate named like this game: the first "game" child and every later sibling,
// whatever its element name.
const TiXmlElement* SelectGame(const TiXmlElement& root, const std::string& gameId) {
    for (const TiXmlElement* game = root.FirstChildElement("game"); game != nullptr;
         game = game->NextSiblingElement()) {
        if (AttributeIs(*game, "name", gameId)) return game;
    }
    return nullptr;
}

}  // namespace

bool GetUpdateInfo() {
    TiXmlDocument document;
    DocumentTrust trust;
    trust.acceptRoot = ManifestSerialFresh;
    const TiXmlElement* root =
        FetchXmlDocument(kManifestUrl, "update version DownloadFile failed(%d)\n", document, trust);
    return root != nullptr && SelectUpdateInfo(*root);
}

bool SelectUpdateInfo(const TiXmlElement& root) {
    UpdaterState& state = TheUpdaterState();
    ManifestValues values;
    values.TakeFrom(root);

    std::string gameId, areaId, groupId;
    WideToAnsi(state.gameId.c_str(), gameId);
    WideToAnsi(state.areaId.c_str(), areaId);
    WideToAnsi(state.groupId.c_str(), groupId);

    if (const TiXmlElement* game = SelectGame(root, gameId)) {
        values.TakeFrom(*game);
        // Every matching area replaces the values, so the last one wins.
        for (const TiXmlElement* area = game->FirstChildElement("area"); area != nullptr;
             area = area->NextSiblingElement()) {
            if (AttributeIs(*area, "name", areaId) && AttributeIs(*area, "group", groupId))
                values.TakeFrom(*area);
        }
    }

    // With a studio's key every archive must be covered by the signed document's digest.
    if (SigningKeyBuiltIn() && !IsSha256Text(values.sha256.c_str())) {
        WriteLog("bx.log", "a", "update version entry without sha256\n");
        return false;
    }

    std::wstring url;
    AnsiToWide(values.url.c_str(), url);
    state.packageUrl = url;
    state.patchUrl = url;
    state.packageSha256 = values.sha256;
    state.patchSha256 = values.sha256;
    AnsiToWide(values.version.c_str(), state.latestVersion);
    AnsiToWide(values.start.c_str(), state.startFlag);
    // One snapshot: the check list this manifest was published with.
    const char* checklist = root.Attribute("checklist_sha256");
    state.checklistSha256 = IsSha256Text(checklist) ? checklist : "";
    return true;
}
