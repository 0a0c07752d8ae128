#include "updater/VersionManifest.h"

#include <cstring>
#include <string>
#include <vector>

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
    // The elements that set the url and the version in force; the url's element carries the
    // deltas to its version.
    const TiXmlElement* urlElement = nullptr;
    const TiXmlElement* versionElement = nullptr;

    // An attribute the element lacks keeps the value from the level above.
    void TakeFrom(const TiXmlElement& element) {
        Take(element, "start", start);
        // A digest belongs to the url of its own element: a new url without one has none,
        // rather than the digest of another archive.
        if (element.Attribute("url") != nullptr) {
            sha256.clear();
            urlElement = &element;
        }
        Take(element, "url", url);
        Take(element, "sha256", sha256);
        Take(element, "version", version);
        if (element.Attribute("version") != nullptr) versionElement = &element;
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

// Deltas come first among an element's children; more than this many are not read.
constexpr int kMaxDeltaOffers = 8;
// Longer texts are no version or address the bridge could use.
constexpr size_t kMaxDeltaFromChars = 64;
constexpr size_t kMaxDeltaUrlChars = 2048;

// A delta child as an offer, or false when it cannot be used: a missing or overlong "from" or
// "url", a "sha256" that is no digest text, or (with a studio's key) none at all.
bool MakeDeltaOffer(const TiXmlElement& delta, DeltaOffer& offer) {
    const char* from = delta.Attribute("from");
    const char* url = delta.Attribute("url");
    const char* sha256 = delta.Attribute("sha256");
    if (from == nullptr || url == nullptr || *from == '\0' || *url == '\0' ||
        std::strlen(from) > kMaxDeltaFromChars || std::strlen(url) > kMaxDeltaUrlChars)
        return false;
    if (sha256 == nullptr) {
        if (SigningKeyBuiltIn()) return false;  // with a key, every payload has its digest
    } else if (!IsSha256Text(sha256)) {
        return false;
    } else {
        offer.sha256 = sha256;
    }
    AnsiToWide(from, offer.from);
    AnsiToWide(url, offer.url);
    return !offer.from.empty() && !offer.url.empty();
}

// The leading "delta" children of the element that set the url, when that element also set
// the version in force: only then do they rebuild exactly that version.
std::vector<DeltaOffer> DeltaOffers(const ManifestValues& values) {
    std::vector<DeltaOffer> offers;
    if (values.urlElement == nullptr || values.urlElement != values.versionElement) return offers;
    int read = 0;
    for (const TiXmlElement* delta = values.urlElement->FirstChildElement();
         delta != nullptr && read < kMaxDeltaOffers && std::strcmp(delta->Value(), "delta") == 0;
         delta = delta->NextSiblingElement(), ++read) {
        DeltaOffer offer;
        if (MakeDeltaOffer(*delta, offer)) offers.push_back(offer);
    }
    return offers;
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
    state.deltas = DeltaOffers(values);
    // One snapshot: the check list this manifest was published with.
    const char* checklist = root.Attribute("checklist_sha256");
    state.checklistSha256 = IsSha256Text(checklist) ? checklist : "";
    return true;
}
