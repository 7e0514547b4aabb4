#include "cleanup/cleanup_list.h"

#include <gtest/gtest.h>

#include "review/group_walk.h"
#include "search/pair_list.h"

namespace {

MemberFacts facts(const std::string& path, int64_t size, int64_t pixels, int64_t mtime)
{
    return MemberFacts {path, size, pixels, mtime};
}

CleanupMember member(int32_t file, MemberFacts facts)
{
    CleanupMember m;
    m.file = file;
    m.facts = std::move(facts);
    m.identity = FileIdentity {1, static_cast<uint64_t>(file + 100), m.facts.size, m.facts.mtimeNs, 1};
    return m;
}

RuleSet rulesOf(std::vector<KeepCriterion> criteria, std::vector<std::string> reference = {})
{
    return RuleSet {"test", std::move(criteria), std::move(reference)};
}

KeepCriterion rule(KeepRule r)
{
    return KeepCriterion {r, {}, {}};
}

std::vector<Mark> marksOf(const CleanupGroup& group)
{
    std::vector<Mark> marks;
    for (const CleanupMember& m : group.members)
        marks.push_back(m.mark);
    return marks;
}

// Four members, every pair between them a result line: one group where each
// rule picks a different member.
CleanupList cliqueOfFour()
{
    CleanupGroup group;
    group.members = {member(0, facts("/p/a/photo.jpg", 500, 1000, 30)),   // middle everything
                     member(1, facts("/p/b/photo copy.jpg", 900, 800, 10)), // largest, oldest
                     member(2, facts("/p/long/folder/x.jpg", 400, 4000, 50)), // most pixels, newest
                     member(3, facts("/p/y.jpg", 300, 1000, 30))};           // shortest path
    std::vector<CleanupList::Pair> pairs;
    for (int32_t a = 0; a < 4; ++a) {
        for (int32_t b = a + 1; b < 4; ++b)
            pairs.push_back({a, b, 10 * a + b});
    }
    return CleanupList::fromGroups({group}, pairs);
}

TEST(KeepRules, EachRulePicksItsMemberAndMarksTheRest)
{
    struct Case {
        KeepCriterion criterion;
        int32_t kept;
    };
    const std::vector<Case> cases = {
        {rule(KeepRule::Pixels), 2},
        {rule(KeepRule::Bytes), 1},
        {rule(KeepRule::Oldest), 1},
        {rule(KeepRule::Newest), 2},
        {rule(KeepRule::Path), 3},
        {KeepCriterion {KeepRule::PreferredFolder, {"/p/long", "/p/b"}, {}}, 2},
        {KeepCriterion {KeepRule::PreferredFolder, {"/elsewhere", "/p/b"}, {}}, 1},
        {KeepCriterion {KeepRule::NameMatching, {}, "*copy*"}, 1},
        {KeepCriterion {KeepRule::NameNotMatching, {}, "photo*"}, 2},
    };
    for (const Case& c : cases) {
        CleanupList list = cliqueOfFour();
        list.applyRules(rulesOf({c.criterion}));
        const CleanupGroup& group = list.group(0);
        EXPECT_EQ(group.kept, c.kept) << ruleWord(c.criterion.rule);
        for (int32_t i = 0; i < 4; ++i)
            EXPECT_EQ(group.members[i].mark, i == c.kept ? Mark::Keep : Mark::Trash) << ruleWord(c.criterion.rule);
        EXPECT_EQ(list.markedFiles(), 3);
    }
}

TEST(KeepRules, TiesGoToTheNextRuleAndFinallyToTheEarliest)
{
    // Members 0 and 3 share pixels (1000) and date (30): "oldest" ties them
    // against each other, but member 1 is older still.
    CleanupList list = cliqueOfFour();
    list.applyRules(rulesOf({rule(KeepRule::Newest)}));
    EXPECT_EQ(list.group(0).kept, 2);

    CleanupGroup tied;
    tied.members = {member(0, facts("/q/bb.jpg", 100, 50, 7)), member(1, facts("/q/a.jpg", 100, 50, 7)),
                    member(2, facts("/q/c.jpg", 100, 50, 7))};
    const std::vector<CleanupList::Pair> pairs = {{0, 1, 3}, {0, 2, 4}, {1, 2, 5}};

    // Equal dates and sizes: only the path breaks the tie.
    CleanupList byPath = CleanupList::fromGroups({tied}, pairs);
    byPath.applyRules(rulesOf({rule(KeepRule::Oldest), rule(KeepRule::Bytes), rule(KeepRule::Path)}));
    EXPECT_EQ(byPath.group(0).kept, 1);
    EXPECT_EQ(byPath.group(0).members[0].decidedBy, "path");
    // The two short paths tie too: the earlier of them in the group is kept.
    EXPECT_EQ(byPath.group(0).members[2].decidedBy, "order");

    CleanupList allTied = CleanupList::fromGroups({tied}, pairs);
    allTied.applyRules(rulesOf({rule(KeepRule::Oldest), rule(KeepRule::Pixels)}));
    EXPECT_EQ(allTied.group(0).kept, 0);
    EXPECT_EQ(marksOf(allTied.group(0)), (std::vector<Mark> {Mark::Keep, Mark::Trash, Mark::Trash}));
    EXPECT_EQ(allTied.group(0).members[1].decidedBy, "order");
}

TEST(KeepRules, CombinationsApplyInTheGivenOrder)
{
    CleanupList list = cliqueOfFour();
    // Path first: y.jpg; pixels first: x.jpg.
    list.applyRules(rulesOf({rule(KeepRule::Path), rule(KeepRule::Pixels)}));
    EXPECT_EQ(list.group(0).kept, 3);
    list.applyRules(rulesOf({rule(KeepRule::Pixels), rule(KeepRule::Path)}));
    EXPECT_EQ(list.group(0).kept, 2);
    // Name not matching "*copy*" leaves three; the largest of them is a/photo.jpg.
    list.applyRules(rulesOf({KeepCriterion {KeepRule::NameNotMatching, {}, "*copy*"}, rule(KeepRule::Bytes)}));
    EXPECT_EQ(list.group(0).kept, 0);
    EXPECT_EQ(list.group(0).members[1].decidedBy, "not-name");
    EXPECT_EQ(list.group(0).members[2].decidedBy, "bytes");
}

TEST(KeepRules, OnlyMembersPairedDirectlyWithTheKeptOneAreMarked)
{
    // A chain 0-1, 1-2: keeping 0 marks 1 (a line pairs them) but not 2,
    // which joined through 1; its score with the kept member is unknown.
    CleanupGroup chain;
    chain.members = {member(0, facts("/c/a.jpg", 900, 10, 1)), member(1, facts("/c/b.jpg", 500, 10, 1)),
                     member(2, facts("/c/c.jpg", 100, 10, 1))};
    CleanupList list = CleanupList::fromGroups({chain}, {{1, 0, 12}, {2, 1, 40}});
    list.applyRules(rulesOf({rule(KeepRule::Bytes)}));
    EXPECT_EQ(marksOf(list.group(0)), (std::vector<Mark> {Mark::Keep, Mark::Trash, Mark::None}));
    EXPECT_EQ(list.group(0).members[1].score, 12);
    EXPECT_EQ(list.group(0).members[2].score, -1);
    EXPECT_FALSE(list.group(0).members[2].direct);

    // Keeping the middle one pairs it with both.
    list.applyRules(rulesOf({KeepCriterion {KeepRule::NameMatching, {}, "b.*"}}));
    EXPECT_EQ(marksOf(list.group(0)), (std::vector<Mark> {Mark::Trash, Mark::Keep, Mark::Trash}));
    EXPECT_EQ(list.group(0).members[2].score, 40);
}

TEST(KeepRules, ReferenceFoldersAreNeverMarked)
{
    CleanupGroup group;
    group.members = {member(0, facts("/lib/new/a.jpg", 900, 10, 1)), member(1, facts("/lib/ref/a.jpg", 100, 10, 1)),
                     member(2, facts("/lib/ref/sub/b.jpg", 200, 10, 1)), member(3, facts("/lib/refuse/c.jpg", 50, 10, 1))};
    std::vector<CleanupList::Pair> pairs;
    for (int32_t a = 0; a < 4; ++a) {
        for (int32_t b = a + 1; b < 4; ++b)
            pairs.push_back({a, b, 1});
    }
    CleanupList list = CleanupList::fromGroups({group}, pairs);
    // Two members under the reference folder: the larger of them is kept,
    // the other stays unmarked; "/lib/refuse" is not under "/lib/ref".
    list.applyRules(rulesOf({rule(KeepRule::Bytes)}, {"/lib/ref"}));
    EXPECT_EQ(list.group(0).kept, 2);
    EXPECT_EQ(marksOf(list.group(0)), (std::vector<Mark> {Mark::Trash, Mark::None, Mark::Keep, Mark::Trash}));
    EXPECT_EQ(list.group(0).members[1].decidedBy, "reference");

    // Wholly inside reference folders: left alone.
    list.applyRules(rulesOf({rule(KeepRule::Bytes)}, {"/lib"}));
    EXPECT_EQ(list.group(0).kept, -1);
    EXPECT_EQ(marksOf(list.group(0)), (std::vector<Mark>(4, Mark::None)));
    EXPECT_EQ(list.markedFiles(), 0);
}

TEST(KeepRules, NoMarkEverEmptiesAGroup)
{
    CleanupList list = cliqueOfFour();
    list.applyRules(rulesOf({rule(KeepRule::Bytes)}));
    EXPECT_TRUE(list.setMark(0, 0, Mark::None));
    EXPECT_TRUE(list.setMark(0, 0, Mark::Trash));
    // Member 1 is the last one not marked: marking it is refused and changes nothing.
    EXPECT_FALSE(list.setMark(0, 1, Mark::Trash));
    EXPECT_EQ(list.group(0).members[1].mark, Mark::Keep);
    EXPECT_EQ(list.markedFiles(), 3);
    EXPECT_TRUE(list.setMark(0, 2, Mark::None));
    EXPECT_TRUE(list.setMark(0, 1, Mark::Trash));
    EXPECT_FALSE(list.setMark(0, 2, Mark::Trash));
    EXPECT_FALSE(list.setMark(0, 9, Mark::None));
    EXPECT_FALSE(list.setMark(3, 0, Mark::None));
}

TEST(KeepRules, RuleListsAndRuleSetsReadBack)
{
    std::string problem;
    const auto criteria = parseRuleList("pixels,bytes,oldest,newest,path", problem);
    ASSERT_TRUE(criteria);
    ASSERT_EQ(criteria->size(), 5u);
    EXPECT_EQ((*criteria)[4].rule, KeepRule::Path);
    EXPECT_FALSE(parseRuleList("pixels,,path", problem));
    EXPECT_EQ(problem, "an empty keep rule");
    EXPECT_FALSE(parseRuleList("folder", problem)); // needs folders: not on the command line
    EXPECT_EQ(problem, "unknown keep rule: folder");

    const RuleSet rules {"photos",
                         {rule(KeepRule::Pixels), KeepCriterion {KeepRule::PreferredFolder, {"/a", "/b"}, {}},
                          KeepCriterion {KeepRule::NameNotMatching, {}, "*(1)*"}},
                         {"/ref"}};
    const std::optional<RuleSet> back = ruleSetFromText(ruleSetText(rules), problem);
    ASSERT_TRUE(back) << problem;
    EXPECT_EQ(*back, rules);
    EXPECT_FALSE(ruleSetFromText("{\"criteria\":[{\"rule\":\"biggest\"}]}", problem));
    EXPECT_EQ(problem, "unknown keep rule: biggest");
    EXPECT_FALSE(ruleSetFromText("[", problem));
}

TEST(CleanupGroups, TheListBeginsWithTheWalksGroupsAndGoesOnPastTheWalksLimit)
{
    // 2,500 disjoint pairs, then a chain a-b, a-c whose c is gathered but not shown.
    std::vector<std::string> lines;
    char line[64];
    for (int32_t i = 0; i < 2500; ++i) {
        std::snprintf(line, sizeof line, "0001, %.6d, %.6d", 2 * i, 2 * i + 1);
        lines.push_back(line);
    }
    lines.push_back("0002, 005000, 005001");
    lines.push_back("0003, 005000, 005002");
    std::vector<PairRec> walked = buildPairList(lines);
    const std::vector<std::vector<int32_t>> shown = groupsWhenAllOk(walked);
    std::vector<PairRec> pairs = buildPairList(lines);
    const std::vector<GatheredGroup> all = gatherEveryGroup(pairs);
    ASSERT_EQ(shown.size(), 2001u);
    ASSERT_EQ(all.size(), 2501u);
    for (std::size_t g = 0; g < shown.size(); ++g)
        ASSERT_EQ(all[g].shown, shown[g]) << g;
    EXPECT_EQ(all[2499].shown, (std::vector<int32_t> {4998, 4999}));
    EXPECT_EQ(all.back().shown, (std::vector<int32_t> {5000, 5001}));
    EXPECT_EQ(all.back().hidden, (std::vector<int32_t> {5002}));
}

} // namespace
