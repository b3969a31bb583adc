// What hosts show of the module: the name string (GetPluginInfo index 1) and the version resource.
// Hosts list plug-ins by these, so they stay as they are whatever the release package is numbered
// (that number is CMakeLists.txt's ZELNAR_RELEASE, and the module never shows it).
#pragma once

#define ZELNAR_MODULE_NAME "HTML to DIB v0.1.0"
#define ZELNAR_MODULE_VERSION_WORDS 0, 1, 0, 5
#define ZELNAR_MODULE_VERSION_TEXT "0.1.0.5"
#define ZELNAR_MODULE_PRODUCT_VERSION_TEXT "1.0.0.0"
