// Repair of the files the check list marked as damaged.
#pragma once

// Downloads a good copy of every marked file: at most three tries per file in one run, each
// verified against the list's SHA-256 (when it gives one) and MD5 before it replaces the
// local file. A file that keeps failing is left as it was. Always true.
bool RepairFiles();
