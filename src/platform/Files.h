#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

// The few file operations the family's programs do themselves. Failures are thrown
// as paths::PathError with a text fit to show the user.
namespace quantiro::platform {

// Creates `directory` with its missing parents, each new one private (0700).
// Throws paths::PathError, naming the directory, when it cannot be had, or when it lies
// in the fallback home (/tmp/quantiro-UID, for a user without a home) and a folder
// on the way is not the user's alone.
void MakePrivateDirectory(const std::string& directory);

// The whole text of the file at `path`, or its first `maxBytes`; empty when it
// cannot be read.
std::string ReadFileWhole(const std::string& path,
                          std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// How a whole-file write ends: on the disk before it returns (a state file that
// must survive a power cut), or in the page cache only (a file rewritten every few
// seconds, whose writer must not wait for a slow disk).
enum class WriteEnd { Durable, Cached };

// Writes `text` to `path` under another name first and renames it into place, so
// that a reader never sees half a file. The other name is new and made only by
// this call: a link or a FIFO planted beside the file is never followed or opened.
// Throws paths::PathError, naming the file.
void WriteFileWhole(const std::string& path, std::string_view text,
                    WriteEnd end = WriteEnd::Durable);

// Whether a user other than this one may write into `directory` (group or world
// write permission, or another owner): a file kept there is not this user's alone.
bool OthersMayWrite(const std::string& directory);

} // namespace quantiro::platform
