// Text output of the host program: wide text to a console as it is, to a file or pipe as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace plugin_host {

void Out(std::wstring_view text);
void Err(std::wstring_view text);

// 8-bit text from the plug-in, in the ANSI code page, as wide text.
std::wstring FromAnsi(std::string_view text);
// A path for the plug-in, in the ANSI code page; false when a character has no ANSI form.
bool ToAnsi(std::wstring_view text, std::string* ansi);

}  // namespace plugin_host
