#pragma once

#include "search/engine_context.h"

// The similar-picture engine (CheckMode 3), over the whole FileTable.
void CompareSimilar(EngineContext& ctx);
