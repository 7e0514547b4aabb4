#include "review/group_walk.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include "search/file_table.h"
#include "search/pair_list.h"

namespace {

using Groups = std::vector<std::vector<int32_t>>;

std::vector<PairRec> waitingPairs(const std::vector<std::pair<int32_t, int32_t>>& indices)
{
    std::vector<PairRec> pairs;
    for (const auto& [a, b] : indices)
        pairs.push_back(PairRec {PairState::Waiting, a, b});
    return pairs;
}

std::vector<PairState> statesOf(const std::vector<PairRec>& pairs)
{
    std::vector<PairState> states;
    for (const PairRec& pair : pairs)
        states.push_back(pair.state);
    return states;
}

// The walk without the index of pair positions: every GatherGroup level
// scans the whole list from the seed and recurses for every file it adds.
// Slow and deep, but plainly right; the fast walk must show the same groups
// in the same order and leave every pair in the same state.
class LiteralWalk {
public:
    explicit LiteralWalk(std::vector<PairRec>& pairs) : m_pairs(pairs), m_count(static_cast<int32_t>(pairs.size())) {}

    void run(const GroupReviewer& reviewer)
    {
        for (PairRec& pair : m_pairs) {
            if (pair.state == PairState::Taken)
                pair.state = PairState::Waiting;
        }
        m_cand.fill(0);
        m_mark.fill(0);
        for (int32_t i = 0; i <= std::min(2000, m_count - 1); ++i) {
            if (m_pairs[i].state != PairState::Waiting)
                continue;
            m_mark.fill(0);
            m_n = 1;
            m_cand[1] = m_pairs[i].indexA;
            m_mark[1] = 1;
            m_mark[2] = 1;
            gatherGroup(i, 1);
            std::vector<int32_t> group;
            for (int32_t k = 1; k <= m_n; ++k) {
                if (m_mark[k] == 1)
                    group.push_back(m_cand[k]);
            }
            if (reviewer(group) == ReviewResult::Abort)
                return;
        }
    }

private:
    void gatherGroup(int32_t start, int32_t pos)
    {
        for (int32_t j = start; j < m_count; ++j) {
            PairRec& p = m_pairs[j];
            if (p.state != PairState::Waiting)
                continue;
            const int32_t f = m_cand[pos];
            if (p.indexA != f && p.indexB != f)
                continue;
            const int32_t other = p.indexA == f ? p.indexB : p.indexA;
            p.state = PairState::Taken;
            bool found = false;
            for (int32_t k = 1; k <= m_n; ++k)
                found = found || m_cand[k] == other;
            if (found) {
                m_mark[pos] = 1;
                continue;
            }
            if (m_n < 300)
                m_n = m_n + 1;
            m_cand[m_n] = other;
            gatherGroup(start, m_n);
        }
    }

    std::vector<PairRec>& m_pairs;
    int32_t m_count;
    std::array<int32_t, 301> m_cand {};
    std::array<int32_t, 301> m_mark {};
    int32_t m_n = 0;
};

// A reviewer that records every group, now and then deletes a member the way
// the similar-picture review does (its pairs go out of play) and now and then
// aborts. Fed the same groups, two of them seeded alike decide alike.
class RandomReviewer {
public:
    RandomReviewer(std::vector<PairRec>& pairs, uint32_t seed, int32_t abortPercent)
        : m_pairs(pairs), m_random(seed), m_abortPercent(abortPercent) {}

    ReviewResult operator()(std::vector<int32_t>& group)
    {
        shown.push_back(group);
        while (group.size() > 1 && percent() < 30) {
            const auto victim = group.begin() + m_random() % group.size();
            for (PairRec& pair : m_pairs) {
                if (pair.state != PairState::OutOfPlay && (pair.indexA == *victim || pair.indexB == *victim))
                    pair.state = PairState::OutOfPlay;
            }
            group.erase(victim);
        }
        if (percent() < m_abortPercent)
            return ReviewResult::Abort;
        return percent() < 50 ? ReviewResult::Ok : ReviewResult::Cancel;
    }

    Groups shown;

private:
    int32_t percent() { return static_cast<int32_t>(m_random() % 100); }

    std::vector<PairRec>& m_pairs;
    std::mt19937 m_random;
    int32_t m_abortPercent;
};

// Runs both walks twice over copies of `pairs` (the second walk sees what
// the first left) and expects the same groups and the same pair states.
void expectSameAsLiteral(const std::vector<PairRec>& pairs, uint32_t seed, int32_t abortPercent)
{
    std::vector<PairRec> fast = pairs;
    std::vector<PairRec> literal = pairs;
    for (int32_t walk = 0; walk < 2; ++walk) {
        RandomReviewer fastReviewer(fast, seed + walk, abortPercent);
        RandomReviewer literalReviewer(literal, seed + walk, abortPercent);
        Graphic_File_Disp(fast, std::ref(fastReviewer));
        LiteralWalk(literal).run(std::ref(literalReviewer));
        ASSERT_EQ(fastReviewer.shown, literalReviewer.shown) << "seed " << seed << " walk " << walk;
        ASSERT_EQ(statesOf(fast), statesOf(literal)) << "seed " << seed << " walk " << walk;
    }
}

std::vector<PairRec> randomPairs(std::mt19937& random, int32_t fileCount, int32_t pairCount)
{
    std::vector<PairRec> pairs;
    for (int32_t j = 0; j < pairCount; ++j) {
        const auto a = static_cast<int32_t>(random() % fileCount);
        const auto b = static_cast<int32_t>(random() % fileCount);
        // Mostly waiting, some left over from an earlier walk or out of play.
        const int32_t roll = static_cast<int32_t>(random() % 10);
        const PairState state = roll < 7 ? PairState::Waiting : roll < 9 ? PairState::Taken : PairState::OutOfPlay;
        pairs.push_back(PairRec {state, a, b});
    }
    return pairs;
}

// Every pair of files 0..count-1 in the order a sorted result list of equal
// scores gives (by IndexA, then IndexB).
std::vector<PairRec> cliquePairs(int32_t count)
{
    std::vector<PairRec> pairs;
    for (int32_t a = 0; a < count; ++a) {
        for (int32_t b = a + 1; b < count; ++b)
            pairs.push_back(PairRec {PairState::Waiting, a, b});
    }
    return pairs;
}

} // namespace

TEST(GroupWalkTest, FileHangingOnTheSeedByOnePairIsTakenButNotShown)
{
    // a=5, b=9, c=2: a-b, a-c.
    auto pairs = waitingPairs({{5, 9}, {5, 2}});
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{5, 9}}));
    EXPECT_EQ(statesOf(pairs), (std::vector<PairState> {PairState::Taken, PairState::Taken}));

    // The chain a-b, b-c: c is gathered from b, its pair taken, not shown.
    auto chain = waitingPairs({{5, 9}, {9, 2}, {7, 8}});
    EXPECT_EQ(groupsWhenAllOk(chain), (Groups {{5, 9}, {7, 8}}));
}

TEST(GroupWalkTest, TriangleIsOneGroupInGatheringOrder)
{
    auto pairs = waitingPairs({{3, 1}, {1, 8}, {3, 8}});
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{3, 1, 8}}));
}

TEST(GroupWalkTest, OnlyTheCandidateClosingACycleIsMarked)
{
    // Square a-b, b-c, c-d, d-a: d's scan meets a, already gathered; c's scan
    // only adds d, so c stays hidden.
    auto pairs = waitingPairs({{0, 1}, {1, 2}, {2, 3}, {3, 0}});
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{0, 1, 3}}));
}

TEST(GroupWalkTest, DisjointPairsAreGroupsInListOrder)
{
    auto pairs = waitingPairs({{4, 6}, {1, 2}});
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{4, 6}, {1, 2}}));

    std::vector<PairRec> none;
    EXPECT_TRUE(groupsWhenAllOk(none).empty());
}

TEST(GroupWalkTest, SecondWalkGivesTheSameGroups)
{
    auto pairs = waitingPairs({{0, 1}, {2, 3}, {1, 4}, {0, 4}, {3, 5}, {6, 7}, {5, 2}});
    const Groups first = groupsWhenAllOk(pairs);
    EXPECT_EQ(first, (Groups {{0, 1, 4}, {2, 3, 5}, {6, 7}}));
    EXPECT_EQ(groupsWhenAllOk(pairs), first);
}

TEST(GroupWalkTest, PairsOutOfPlayStayOutAndTakenPairsWaitAgain)
{
    auto pairs = waitingPairs({{0, 1}, {2, 3}, {0, 2}});
    pairs[0].state = PairState::OutOfPlay;
    pairs[1].state = PairState::Taken;
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{2, 3}}));
    EXPECT_EQ(statesOf(pairs), (std::vector<PairState> {PairState::OutOfPlay, PairState::Taken, PairState::Taken}));
}

TEST(GroupWalkTest, OnlyTheFirst2001PairsSeedGroups)
{
    std::vector<std::pair<int32_t, int32_t>> indices;
    for (int32_t k = 0; k < 2500; ++k)
        indices.emplace_back(2 * k, 2 * k + 1);
    auto pairs = waitingPairs(indices);
    const Groups groups = groupsWhenAllOk(pairs);
    ASSERT_EQ(groups.size(), 2001u);
    EXPECT_EQ(groups.back(), (std::vector<int32_t> {4000, 4001}));
    EXPECT_EQ(pairs[2000].state, PairState::Taken);
    EXPECT_EQ(pairs[2001].state, PairState::Waiting);
    EXPECT_EQ(pairs[2499].state, PairState::Waiting);
}

TEST(GroupWalkTest, PairsPastTheSeedsAreReachedThroughEarlierGroups)
{
    std::vector<std::pair<int32_t, int32_t>> indices;
    for (int32_t k = 0; k < 2100; ++k)
        indices.emplace_back(2 * k, 2 * k + 1);
    indices.emplace_back(1, 4101); // joins pair 0 to pair 2050, which cannot seed
    indices.emplace_back(4101, 0); // and closes a cycle with it
    auto pairs = waitingPairs(indices);
    const Groups groups = groupsWhenAllOk(pairs);
    ASSERT_EQ(groups.size(), 2001u);
    EXPECT_EQ(groups.front(), (std::vector<int32_t> {0, 1, 4101}));
    EXPECT_EQ(pairs[2050].state, PairState::Taken);
    EXPECT_EQ(pairs[2051].state, PairState::Waiting);
}

TEST(GroupWalkTest, AbortEndsTheWalk)
{
    auto pairs = waitingPairs({{0, 1}, {2, 3}, {4, 5}});
    int32_t shown = 0;
    Graphic_File_Disp(pairs, [&shown](std::vector<int32_t>&) {
        ++shown;
        return ReviewResult::Abort;
    });
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(statesOf(pairs), (std::vector<PairState> {PairState::Taken, PairState::Waiting, PairState::Waiting}));

    // Any other way of closing goes on.
    shown = 0;
    Graphic_File_Disp(pairs, [&shown](std::vector<int32_t>&) {
        ++shown;
        return ReviewResult::Cancel;
    });
    EXPECT_EQ(shown, 3);
}

TEST(GroupWalkTest, ErrorWhileAGroupIsShownEndsTheWalkThere)
{
    auto pairs = waitingPairs({{0, 1}, {2, 3}});
    EXPECT_THROW(Graphic_File_Disp(pairs, [](std::vector<int32_t>&) -> ReviewResult {
        throw std::runtime_error("ファイル a.jpg は開けません");
    }), std::runtime_error);
    EXPECT_EQ(statesOf(pairs), (std::vector<PairState> {PairState::Taken, PairState::Waiting}));
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{0, 1}, {2, 3}}));
}

TEST(GroupWalkTest, DeleteInSimilarModeTakesTheFilesPairsOutOfTheNextWalk)
{
    auto pairs = waitingPairs({{0, 1}, {1, 2}, {0, 2}, {3, 4}});
    Groups shown;
    Graphic_File_Disp(pairs, [&](std::vector<int32_t>& group) {
        shown.push_back(group);
        if (group.front() == 0) { // the review deletes file 2
            for (PairRec& pair : pairs) {
                if (pair.state != PairState::OutOfPlay && (pair.indexA == 2 || pair.indexB == 2))
                    pair.state = PairState::OutOfPlay;
            }
            group.erase(std::find(group.begin(), group.end(), 2));
        }
        return ReviewResult::Ok;
    });
    EXPECT_EQ(shown, (Groups {{0, 1, 2}, {3, 4}}));
    EXPECT_EQ(statesOf(pairs),
              (std::vector<PairState> {PairState::Taken, PairState::OutOfPlay, PairState::OutOfPlay, PairState::Taken}));
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{0, 1}, {3, 4}}));
}

TEST(GroupWalkTest, CliqueOf301FilesStaysInsideMaxGroup)
{
    // File 299 is overwritten by file 300 in the last position, which keeps
    // its mark; the group holds 300 files.
    auto pairs = cliquePairs(301);
    const Groups groups = groupsWhenAllOk(pairs);
    std::vector<int32_t> expected(299);
    std::iota(expected.begin(), expected.end(), 0);
    expected.push_back(300);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0], expected);
    EXPECT_TRUE(std::all_of(pairs.begin(), pairs.end(), [](const PairRec& p) { return p.state == PairState::Taken; }));
}

TEST(GroupWalkTest, OverwrittenLastPositionKeepsItsMark)
{
    // The chain 0-1-...-299 fills the group; 299 closes a cycle with 0, which
    // marks position 300, and then gathers 300 into that same position. File
    // 300, hanging on by one pair, is shown in 299's place.
    std::vector<std::pair<int32_t, int32_t>> indices;
    for (int32_t k = 0; k < 299; ++k)
        indices.emplace_back(k, k + 1);
    indices.emplace_back(299, 0);
    indices.emplace_back(299, 300);
    auto pairs = waitingPairs(indices);
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{0, 1, 300}}));
}

TEST(GroupWalkTest, LongChainIsWalkedWithoutDeepRecursion)
{
    // Each pair of the chain adds one file and one GatherGroup level.
    constexpr int32_t kLinks = 300000;
    std::vector<PairRec> pairs;
    for (int32_t k = kLinks; k > 0; --k)
        pairs.push_back(PairRec {PairState::Waiting, k - 1, k});
    EXPECT_EQ(groupsWhenAllOk(pairs), (Groups {{kLinks - 1, kLinks}}));
    EXPECT_TRUE(std::all_of(pairs.begin(), pairs.end(), [](const PairRec& p) { return p.state == PairState::Taken; }));
}

TEST(GroupWalkTest, RedisplayWalksOnlyPairsOfLiveFiles)
{
    FileTable files(4);
    const std::vector<std::string> lines {"0001, 000000, 000001, x", "0002, 000001, 000002, x",
                                          "0003, 000000, 000002, x", "0004, 000002, 000003, x"};
    std::vector<PairRec> pairs;
    Groups shown;
    const GroupReviewer record = [&shown](std::vector<int32_t>& group) {
        shown.push_back(group);
        return ReviewResult::Ok;
    };
    redisplayGroups(lines, files, pairs, record);
    EXPECT_EQ(shown, (Groups {{0, 1, 2}}));

    files[1].skip = 1;
    shown.clear();
    redisplayGroups(lines, files, pairs, record);
    EXPECT_EQ(pairs.size(), 2u);
    EXPECT_EQ(shown, (Groups {{0, 2}}));

    for (File_rec& file : files)
        file.skip = 1;
    shown.clear();
    redisplayGroups(lines, files, pairs, record);
    EXPECT_TRUE(pairs.empty());
    EXPECT_TRUE(shown.empty());
}

TEST(GroupWalkTest, MatchesTheLiteralWalkOnSmallRandomLists)
{
    std::mt19937 random(20261207);
    for (uint32_t seed = 0; seed < 400; ++seed) {
        const auto fileCount = static_cast<int32_t>(2 + random() % 40);
        const auto pairCount = static_cast<int32_t>(1 + random() % 150);
        expectSameAsLiteral(randomPairs(random, fileCount, pairCount), seed, 3);
    }
}

TEST(GroupWalkTest, MatchesTheLiteralWalkPastTheSeedLimit)
{
    std::mt19937 random(7);
    for (uint32_t seed = 0; seed < 6; ++seed)
        expectSameAsLiteral(randomPairs(random, 3000, 2600), seed, 0);
}

TEST(GroupWalkTest, MatchesTheLiteralWalkWhenGroupsOverflow)
{
    // Cliques past MaxGroup in shuffled order, plus stray pairs, so that the
    // last position is overwritten while levels still scan for it.
    std::mt19937 random(11);
    for (uint32_t seed = 0; seed < 6; ++seed) {
        auto pairs = cliquePairs(static_cast<int32_t>(302 + random() % 30));
        for (std::size_t swaps = random() % 2000; swaps > 0; --swaps)
            std::swap(pairs[random() % pairs.size()], pairs[random() % pairs.size()]);
        const auto extra = randomPairs(random, 400, 300);
        pairs.insert(pairs.begin() + random() % pairs.size(), extra.begin(), extra.end());
        expectSameAsLiteral(pairs, seed, 0);
    }
}

namespace {

// Runs the placed walk, each review putting out of play the pairs of some
// members (a delete in similar mode); every group's place must match what
// the walk then really showed.
void expectExactPlaces(std::vector<PairRec> pairs, std::mt19937& random, uint32_t seed, uint32_t deleteOneIn)
{
    std::vector<GroupPlace> places;
    Groups shown;
    Graphic_File_Disp(pairs, [&](std::vector<int32_t>& group, const GroupPlace& place) {
        places.push_back(place);
        shown.push_back(group);
        for (int32_t file : group) {
            if (deleteOneIn == 0 || random() % deleteOneIn != 0)
                continue;
            for (PairRec& pair : pairs) {
                if (pair.indexA == file || pair.indexB == file)
                    pair.state = PairState::OutOfPlay;
            }
        }
        return ReviewResult::Ok;
    });
    const auto total = static_cast<int32_t>(shown.size());
    for (std::size_t k = 0; k < places.size(); ++k) {
        EXPECT_EQ(places[k].number, static_cast<int32_t>(k + 1)) << "seed " << seed;
        EXPECT_EQ(places[k].total, total) << "seed " << seed << " group " << k + 1;
    }
}

} // namespace

TEST(GroupWalkTest, PlacesCountTheGroupsTheWalkShowsWhateverIsDeleted)
{
    // {0,1,2} with 5 hanging on 2, then {3,4}: file 5's pair is taken with
    // the first group, so deleting 2 there leaves no group {2,5} to come.
    auto pairs = waitingPairs({{0, 1}, {1, 2}, {2, 5}, {3, 4}});
    std::vector<GroupPlace> places;
    Graphic_File_Disp(pairs, [&](std::vector<int32_t>& group, const GroupPlace& place) {
        places.push_back(place);
        for (PairRec& pair : pairs) {
            if (group.front() == 0 && (pair.indexA == 2 || pair.indexB == 2))
                pair.state = PairState::OutOfPlay;
        }
        return ReviewResult::Ok;
    });
    ASSERT_EQ(places.size(), std::size_t {2});
    EXPECT_EQ(places[0].number, 1);
    EXPECT_EQ(places[0].total, 2);
    EXPECT_EQ(places[1].number, 2);
    EXPECT_EQ(places[1].total, 2);

    // An abort ends the walk but not the count.
    places.clear();
    Graphic_File_Disp(pairs, [&](std::vector<int32_t>&, const GroupPlace& place) {
        places.push_back(place);
        return ReviewResult::Abort;
    });
    ASSERT_EQ(places.size(), std::size_t {1});
    EXPECT_EQ(places[0].total, 2);

    // The plain walk and the placed one show the same groups; with random
    // deletes the totals still match what was shown.
    std::mt19937 random(20261208);
    for (uint32_t seed = 0; seed < 200; ++seed) {
        const auto fileCount = static_cast<int32_t>(2 + random() % 40);
        const auto pairCount = static_cast<int32_t>(1 + random() % 150);
        std::vector<PairRec> list = randomPairs(random, fileCount, pairCount);
        std::vector<PairRec> copy = list;
        Groups placedGroups;
        Graphic_File_Disp(copy, [&](std::vector<int32_t>& group, const GroupPlace&) {
            placedGroups.push_back(group);
            return ReviewResult::Ok;
        });
        EXPECT_EQ(placedGroups, groupsWhenAllOk(list)) << "seed " << seed;
        expectExactPlaces(list, random, seed, 4);
    }
    // Past the seed limit, where later pairs come only through earlier groups.
    for (uint32_t seed = 0; seed < 3; ++seed)
        expectExactPlaces(randomPairs(random, 3000, 2600), random, seed, 50);
}
