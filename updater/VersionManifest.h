// The version manifest: which version is current for this game, area and group, where the
// archive is, and whether the core module may start.
#pragma once

// Fetches the manifest and stores the selected values in the updater state (latestVersion,
// packageUrl, patchUrl, startFlag). False after three failed attempts; the state is then
// left as it was.
bool GetUpdateInfo();
