#include "compare/identical/identical_engine.h"

#include "compare/identical/identical_run.h"

void CompareIdentical(EngineContext& ctx)
{
    IdenticalRun(ctx).wholeTable();
}

void CompareIdentical(EngineContext& ctx, const std::vector<std::vector<int32_t>>& runs)
{
    IdenticalRun(ctx).runs(runs);
}
