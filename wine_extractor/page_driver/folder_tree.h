// Folders taken apart through descriptors: each level opened without following links, relative to
// the one above it, so a name swapped meanwhile never leads the removal elsewhere. Linux only.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace wine_extractor {

// Removes `name` in the folder `dir`, and everything in it when it is a folder; a link goes, never
// what it leads to. False when something stayed.
bool RemoveTree(int dir, const std::string& name);

// Every name in the folder `dir` but "." and "..".
void ForEachEntry(int dir, const std::function<void(const std::string&)>& fn);

// At most a small file's bytes of `name` in `dir`; none when it cannot be opened (or is a link).
std::optional<std::string> ReadSmallAt(int dir, const std::string& name);

}  // namespace wine_extractor
