// Hostile variations of the version manifest and the check list, made from seed documents
// like the ones the tests serve: first by whole elements and attributes (duplicated,
// removed, renamed, hostile values, nesting around the depth limit), then by bytes.
#pragma once

#include <string>

#include "support/FuzzRandom.h"

// What the check-list seed's MD5 texts say about the files good.txt and sub/deep.bin below
// the installation directory.
inline const char kGoodFileContent[] = "good content";
inline const char kDeepFileContent[] = "deep content";

// The unmutated seed: a manifest with game, area and group entries for game 7, area 30 and
// group 2, or a check list of version 2.
std::string SeedDocument(bool manifest);

// The seed with up to three element or attribute mutations, after one of several prologs
// (declarations, a byte-order mark, a comment), and in half the cases with one or two byte
// mutations.
std::string HostileDocument(FuzzRandom& random, bool manifest);
