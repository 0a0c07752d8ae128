// The check list: the files of an installation version with their MD5 and a URL of a good
// copy. Used when the installed version equals the manifest's, to find and mend damaged files.
#pragma once

class TiXmlElement;

// Fetches the list and, when it describes the installed version, appends its files to
// UpdaterState::checkFiles and marks every recorded file whose local MD5 differs. Entries
// lacking "name", "md5" or "remote_file_url", with an empty "md5" or "remote_file_url", or
// whose name would leave the installation directory, are not recorded; with a signing key
// built in, neither are entries without a well-formed "sha256", and the list is read only
// when its bytes have the "checklist_sha256" of the manifest this run accepted. False only
// when the list could not be fetched or accepted.
bool GetCheckFileList();

// What GetCheckFileList does once the list is fetched, on its parsed "root" element: when
// the list describes the installed version, records its usable entries and marks every
// recorded file whose local MD5 differs. Always true.
bool RecordCheckFiles(const TiXmlElement& root);
