#pragma once

#include "platform/core/ansi_string.h"

#include <filesystem>
#include <optional>
#include <string>

// Turns a path written with "\" separators into the file it names. Each component is taken as it is
// when such an entry exists, and otherwise is the folder entry whose upper-cased name equals it.
// Nothing when no entry matches. Any thread may call it.
std::optional<std::filesystem::path> ResolvePath(const AnsiString& fileName);

// The path as written, with "/" for its separators and runs of them made one: the file that
// ResolvePath gives when an entry of that name exists.
std::string WrittenPath(const AnsiString& fileName);
