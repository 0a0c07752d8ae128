// The one point every change to an installation passes through before it happens. The
// shipped DLL lets every change go ahead; a test build of the DLL links its own version of
// ChangeSeam.cpp to stop the process, or refuse a change, at a chosen point.
#pragma once

enum class ChangeKind {
    Copy,        // a file copied into the installation or its backups
    Restore,     // a backed-up file copied back by a rollback
    Move,        // a file moved into place
    Delete,      // a file or a work tree removed
    Attributes,  // a file's attribute word changed
    CreateDir,
    RemoveDir,
    Journal,  // the journal written
    Version,  // "version.bin" written
};

// True when the change may go ahead; false makes it fail as the platform call would, with
// the reason in the thread's last-error code.
bool BeforeInstallChange(ChangeKind kind, const wchar_t* path);
