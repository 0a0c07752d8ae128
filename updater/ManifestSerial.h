// Freshness of signed manifests. The studio's publisher writes a strictly increasing "serial"
// on the manifest's root; a keyed bridge remembers the highest serial it accepted for its
// installation ("serial.bin" beside "version.bin") and refuses a lower one, so an older signed
// manifest replayed by the network cannot move players back or switch the core off again.
// An equal serial is the same manifest again and is accepted. No expiry is read: the player's
// clock is never consulted, so a wrong clock cannot stop updates.
#pragma once

class TiXmlElement;

// A serial's text: 1 to 19 decimal digits, no sign, no blanks, value below 2^63.
bool ParseManifestSerial(const char* text, unsigned long long& serial);

// The accepting test on a verified manifest's root: true when its serial is well formed and
// not below the recorded one, and then the serial is kept in the updater state for
// RecordManifestSerial. Otherwise logs the refusal to "bx.log" and returns false.
bool ManifestSerialFresh(const TiXmlElement& root);

// Records the serial this run accepted, unless a higher one is recorded already. The caller
// holds the installation's lock, so two games never lower each other's record. False when
// it could not be written.
bool RecordManifestSerial();
