// Temporary work folders: each use gets a fresh folder "[GUID]" under one
// root in the system temporary folder, marked in use by a lock file
// "[GUID].lock" beside it that its process holds open without sharing.
// Folders whose lock file nobody holds belong to ended runs and are removed
// the first time a later run uses the manager.
#pragma once

#include <string>

#include "foundation/kvFileStream.h"

namespace foundation {

// The name of the shared root folder ("ORVANE_TEMP_ROOT").
extern std::u16string TempRootName;

// The root path with a trailing "\", set up (and cleaned of stale folders)
// at the first call. The root is created owner-only; a root that belongs to
// someone else, or cannot be made, is an assertion failure.
std::u16string GetTempRoot();

// A new work folder with its held lock file; its path (with "\" when asked),
// or an empty text when no folder could be made.
std::u16string CreateTempFolder(bool trailingBackslash);

// Closes the lock (when given) and deletes the lock file and the folder with
// its contents; true when the folder was deleted. A folder that cannot be
// deleted gets an empty lock file again, so a later run retries.
bool ReleaseTempFolder(const std::u16string& path, TFileStream* lockStream);

// Unit end: releases every registered folder in registry order and forgets
// the root, so a later first call sets it up again.
void DoneTempFolders();

}  // namespace foundation
