// Whether a path names a file that can be read, asked before any work is done for it: the host is
// answered 8 for anything else, before a block is allocated or the extractor is created.
#pragma once

namespace zelnar {

// True when `path` opens for reading as a file on disk. A folder, a device, a missing file, a name
// the file system refuses (a '?' in it) or a file locked against readers all give false.
bool NamesReadableFile(const wchar_t* path) noexcept;

}  // namespace zelnar
