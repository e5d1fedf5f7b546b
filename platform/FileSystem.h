#pragma once
// File operations behind the shell's copy / move / rename / delete-to-bin. Paths are
// std::filesystem::path; every routine reports failure by its result and never throws.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

// Reads the whole file into out (cleared first). False on a failed open or read.
bool ReadWholeFile(const fs::path& path, std::string& out);
// 64-bit size of the file, 0 when it cannot be opened.
int64_t FileSize64(const fs::path& path);
// Writes all length bytes to fd, resuming after partial writes and signals; false on an error.
bool WriteAll(int fd, const char* data, size_t length);
// Creates or truncates the file and writes all bytes; false unless every byte was written.
bool WriteWholeFile(const fs::path& path, std::string_view bytes);
// Copies source to destination; never overwrites an existing destination.
bool CopyFileTo(const fs::path& source, const fs::path& destination);
// Moves source to destination (rename(2); across file systems copy, flush, remove the source).
// Never overwrites an existing destination.
bool MoveFileTo(const fs::path& source, const fs::path& destination);
// Renames a file or folder; same rules as MoveFileTo.
bool RenameFile(const fs::path& source, const fs::path& destination);
// Moves the file or folder to the freedesktop.org Trash with its .trashinfo record.
// False when the path does not exist.
bool DeleteToRecycleBin(const fs::path& path);
// Flushes a file's or folder's data and metadata to the disk (fsync). False when it cannot be
// opened or the flush fails.
bool SyncPath(const fs::path& path);
// A name in the same folder that does not exist yet: "name.ext", then "name (2).ext", ...
fs::path MakeUniqueName(const fs::path& wanted);
