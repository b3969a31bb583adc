// What services that are gone left in the meeting folder: killed outright, they removed neither the
// engine's scratch folder nor their spool. Linux only.
#pragma once

#include <sys/stat.h>

namespace wine_extractor {

// Removes from the folder `meeting` the scratch folders and spools of services that are gone (the
// process a folder's `service` file names runs no more, by its id and start time), never the spool
// `own`, one whose lock is held, nor a file that may still be in use: a host handing in a page, a
// service that is starting.
void RemoveLeftovers(int meeting, const struct stat& own);

}  // namespace wine_extractor
