// Repair of the files the check list marked as damaged.
#pragma once

// Downloads a good copy of every marked file: at most three tries per file in one run, each
// verified against the list's SHA-256 (when it gives one) and MD5 before it replaces the
// local file. A file that keeps failing is left as it was. The whole pass starts no try after
// RepairPassDeadlineMs() and clamps each try to the time left; when it stops early it logs how
// many marked files it did not repair. Always true.
bool RepairFiles();
