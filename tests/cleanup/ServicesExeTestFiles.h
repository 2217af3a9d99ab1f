#pragma once
// Files for the service host image tests: the fixture images built beside
// the test executable, and writing files without touching a hard-linked
// twin in the cached base prefix (every write goes to a fresh file).
#include <string>

// <directory of this executable>\image-fixtures\<fileName>
std::string FixtureImagePath(const std::string& fileName);
// The same fixture for a test executable of another subsystem:
// <directory of this executable>\..\cleanup\image-fixtures\<fileName>
std::string SiblingFixtureImagePath(const std::string& fileName);

// The whole file, or false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string* bytes);
std::string ReadFileBytesOrEmpty(const std::string& path);

// Replaces path by a new file holding bytes (or a copy of source).
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool PlantCopy(const std::string& source, const std::string& path);

// A new empty directory below the temporary directory.
std::string MakeScratchDirectory(const std::string& tag);

// Removes a file or a directory with everything below it.
void RemoveTree(const std::string& path);

// The Windows and the system directory as the system names them (narrow);
// empty when they do not fit MAX_PATH.
std::string WindowsDirectory();
std::string SystemDirectory();

bool IsDirectory(const std::string& path);
bool Exists(const std::string& path);
