// The files an untrusted page loads, opened by the driver itself and handed to the engine as the open
// descriptor: the path judged by the request rules is the one opened, so nothing swapped in between
// (a link, a FIFO) is read, and the driver never holds a file's bytes. Linux only: the page driver's
// part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "wine_extractor/page_driver/request_policy.h"
#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

// A page's file as opened: its descriptor, or the rule that refuses it; neither when it is gone or
// cannot be read.
struct PageFile {
  UniqueFd file;
  std::optional<Rule> rule;
};

// The regular file at `realPath` (absolute, no "." or ".." segment), opened for reading one folder at
// a time without following any link. Refused as Rule::kNotRegular when a segment is a link (put there
// after the path was judged) or the file is no regular file (a FIFO, a device, a socket, a folder);
// as Rule::kTooManyFiles when this process may open no more files.
PageFile OpenPageFile(const std::string& realPath);

// The address at which the engine, a child of this process, reads exactly the file open as `fd` here.
std::string DescriptorUrl(int fd);

}  // namespace wine_extractor
