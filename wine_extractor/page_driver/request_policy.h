// Which requests of an untrusted page the engine may make. Documents (the page, its frames, objects
// and embeds: whatever could show a file's text) only from files that really lie inside the page's own
// folder, every link followed; stylesheets, fonts and images, which are only parsed or drawn as
// pictures, also from any folder above it, as a browser loads them; inline data: addresses; nothing
// else. Hidden names (configuration, not page content) count only below the deepest folder a file
// shares with the page: a documentation tree kept under ~/.rustup draws as one under ~/docs, and a page
// in ~/Downloads still cannot use ~/.ssh. Each refusal names its rule. Portable.
#pragma once

#include <optional>
#include <string>

namespace wine_extractor {

// The real path of a path, every link followed; none when it does not exist.
using RealPathFn = std::optional<std::string> (*)(const std::string& path);

// The folder a page may load from: as its URL names it, and as it really is.
struct PageScope {
  std::string folder;      // the page's folder, without a trailing slash ("" for the root)
  std::string realFolder;  // its real path ("/" for the root)
  std::string realPage;    // the page's own real path
  bool strict = false;     // every kind of request under the documents' rule
};

// What a request asks for, as far as the rules care: a document, or something that is only parsed
// or drawn as a picture.
enum class RequestKind { kDocument, kResource };

// The kind of the engine's resource type ("Stylesheet", "Font", "Image" are resources; anything
// else, unknown names included, is a document).
RequestKind KindOfResource(const std::string& resourceType);

// The rules that refuse a request, each with the words the trace gives it. OpenPageFile
// (page_file.h) applies kNotRegular and kTooManyFiles when it opens what the others allowed.
enum class Rule { kOutside, kHidden, kNotRegular, kTooManyFiles, kSystem, kNetwork };
const char* RuleText(Rule rule);

// What the rules say of one address: the real path of the file that may be read, or the rule that
// refuses it; neither when it names no file (none is there, or no Linux name can be spelt so).
struct Verdict {
  std::optional<std::string> file;
  std::optional<Rule> rule;
};

// The scope of `page` (an absolute Unix path); none when it cannot be resolved, or when the page is
// a link to a file outside its folder.
std::optional<PageScope> ScopeOfPage(const std::string& page, RealPathFn realPath);

// The verdict on `url` (as the engine reports it), asked for as `kind`.
// Documents: the page itself, or a path that lies in the page's folder both as written and really
// (every link followed), with no segment below the folder beginning with "."; a page whose folder is
// the root loads nothing but itself. Resources (unless the scope is strict): besides, any file
// outside /proc, /sys and /dev (by its name and by where it leads) with no segment beginning with "." below the deepest folder it shares
// with the page's folder, both as written and really (so no ~/.ssh for a page in ~/Downloads, no .git
// beside the page's tree, yet a page under ~/.rustup uses its tree's stylesheets). Percent escapes
// are decoded before comparing, query and fragment ignored; a path with a "." or ".." segment, an
// escaped slash or a NUL byte names no file. Whether the path names a regular file of at most 32 MiB
// is for whoever opens it. An empty scope (no page yet) allows nothing.
Verdict JudgeRequest(const std::string& url, const PageScope& scope, RealPathFn realPath,
                     RequestKind kind = RequestKind::kDocument);

// Whether `url` is inline content (a data: address): nothing is read for it.
bool IsInline(const std::string& url);

// Percent escapes decoded; none when an escape is malformed.
bool PercentDecode(const std::string& text, std::string& decoded);

// realpath(3).
std::optional<std::string> RealPath(const std::string& path);

}  // namespace wine_extractor
