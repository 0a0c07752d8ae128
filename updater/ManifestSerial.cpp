#include "updater/ManifestSerial.h"

#include <string>

#include "installation/RecordFile.h"
#include "support/Log.h"
#include "tinyxml.h"
#include "updater/InstallDir.h"
#include "updater/UpdaterState.h"

namespace {

constexpr unsigned long long kSerialLimit = 1ull << 63;

std::string SerialText(unsigned long long serial) {
    std::string text;
    do {
        text.insert(text.begin(), static_cast<char>('0' + serial % 10));
        serial /= 10;
    } while (serial != 0);
    return text;
}

// The recorded serial; false when none is recorded. A record that cannot be read as a
// serial counts as none: it was never written by this code.
bool RecordedSerial(unsigned long long& serial) {
    std::wstring text = ReadRecordValue(TheInstallLayout().serialFile, L"serial");
    std::string narrow(text.begin(), text.end());
    for (wchar_t c : text) {
        if (c > 0x7F) return false;
    }
    return ParseManifestSerial(narrow.c_str(), serial);
}

}  // namespace

bool ParseManifestSerial(const char* text, unsigned long long& serial) {
    if (text == nullptr || *text == '\0') return false;
    unsigned long long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        const unsigned digit = static_cast<unsigned>(*c - '0');
        if (value > (kSerialLimit - 1 - digit) / 10) return false;
        value = value * 10 + digit;
    }
    serial = value;
    return true;
}

bool ManifestSerialFresh(const TiXmlElement& root) {
    unsigned long long serial = 0;
    if (!ParseManifestSerial(root.Attribute("serial"), serial)) {
        WriteLog("bx.log", "a", "update version without serial\n");
        return false;
    }
    unsigned long long recorded = 0;
    if (RecordedSerial(recorded) && serial < recorded) {
        WriteLog("bx.log", "a", "update version serial refused (%s < %s)\n",
                 SerialText(serial).c_str(), SerialText(recorded).c_str());
        return false;
    }
    UpdaterState& state = TheUpdaterState();
    state.manifestSerial = serial;
    state.hasManifestSerial = true;
    return true;
}

bool RecordManifestSerial() {
    const UpdaterState& state = TheUpdaterState();
    if (!state.hasManifestSerial) return true;
    unsigned long long recorded = 0;
    if (RecordedSerial(recorded) && recorded >= state.manifestSerial) return true;
    std::string text = SerialText(state.manifestSerial);
    bool written = WriteRecordValue(TheInstallLayout().serialFile, L"serial",
                                    std::wstring(text.begin(), text.end()));
    if (!written) WriteLog("bx.log", "a", "update version serial not recorded\n");
    return written;
}
