// The files an untrusted page loads, read by the driver itself and handed to the engine: the path
// judged by the request rules is the one opened, so nothing swapped in between (a link, a FIFO) is
// read. Linux only: the page driver's part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "wine_extractor/page_driver/request_policy.h"

namespace wine_extractor {

// A page's file may be at most this large (Rule::kOverSize says so): the engine gets it in one message.
inline constexpr uint64_t kMaxPageFileBytes = 32u << 20;

// A page's file as read: its bytes, or the rule that refuses it; neither when it is gone or cannot
// be read.
struct PageFile {
  std::optional<std::string> bytes;
  std::optional<Rule> rule;
};

// The bytes of the regular file at `realPath` (absolute, no "." or ".." segment), opened one folder
// at a time without following any link. Refused as Rule::kNotRegular when a segment is a link (put
// there after the path was judged) or the file is no regular file (a FIFO, a device, a socket, a
// folder); as Rule::kOverSize when it holds more than `maxBytes`.
PageFile ReadPageFile(const std::string& realPath, uint64_t maxBytes = kMaxPageFileBytes);

// The Content-Type the engine would give a local file of that name, from its extension; empty when
// the extension says nothing, and the engine looks at the bytes.
std::string ContentTypeOf(const std::string& path);

}  // namespace wine_extractor
