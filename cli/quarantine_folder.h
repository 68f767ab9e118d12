// The quarantine folder as the save and the restore reach it, one per run.
//
// POSIX: the folder is opened once and everything in it is reached through
// that descriptor, never by its path again. It must be a real folder (not
// a symbolic link), owned by the user who runs the program and writable by
// nobody else, and so must its manifest: whoever could write them could make
// a restore run as root write anything anywhere. Any number of scanners and
// restores may share it: every append to the manifest is made under the
// manifest's lock, at its end, and an entry number is taken by creating a
// name exclusively. Windows: the folder is reached by its path; the
// manifest is opened for each read and each append alone, which keeps the
// others waiting meanwhile, and the entries' names are taken as on POSIX.
#pragma once

#include <cstdint>
#include <string>

#include "engine/file_io.h"

// Opens the folder, first creating it private when create is set; false,
// said on standard error, when it is missing or cannot be trusted.
bool UseQuarantineFolder(const char* path, bool create);
// The manifest's path, for messages.
const std::string& ManifestShownPath();
// Opens the manifest for appending, creating it when create is set and it
// is missing; false, said on standard error, when it cannot be used or
// trusted.
bool OpenManifest(bool create);
// The manifest's whole text, read while no writer is appending.
bool ReadManifestText(std::string* text);
// Appends one whole line under the manifest's lock (preceded by the first
// line, ManifestHeaderLine, when the manifest is empty) and brings it to the
// disk before it returns; a line that could not be written whole is taken
// back. False, with the system's error set, when it failed.
bool AppendManifest(const std::string& line);
// Closes the manifest and the folder.
void LeaveQuarantineFolder();

enum class EntryClaim { Claimed, Taken, Failed };
// Creates NNNNNNNN.part for writing, exclusively: Taken when another writer
// holds that number (its part or its entry exists), Failed, with the
// system's error set, when nothing can be created.
EntryClaim ClaimEntry(uint32_t number, FileHandle* part);
// Gives a written and flushed part its entry's name, never replacing one,
// and brings the name to the disk.
bool PublishEntry(uint32_t number);
// Removes a part, or an entry that got no line in the manifest.
void DropEntry(uint32_t number, bool published);
// Opens an entry for reading by its id; InvalidFileHandle, with the system's
// error set, when it is missing or not a regular file.
FileHandle OpenEntry(const std::string& id);
