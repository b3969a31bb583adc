// The settings as the Wine program's environment gives them, read on each call.
#pragma once

#include "wine_extractor/protocol/engine_settings.h"

namespace wine_extractor {

EngineSettings ReadEngineSettings();

}  // namespace wine_extractor
