#include "compare/similar/similar_engine.h"

// Placeholder until the similar-picture engine lands: finds nothing.
void CompareSimilar(EngineContext&) {}
