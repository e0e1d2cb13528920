#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "PassTestSupport.h"

namespace {

using namespace passtest;
using quorvex::scene::NoteKeyData;

using Names = std::vector<std::string>;

NodeData Namer(std::vector<NoteKeyData> keys, std::string name = "FrameNames") {
    NodeData node = ObjectNode(name, quorvex::scene::ObjectKind::Helper);
    node.noteTracks.push_back(std::move(keys));
    return node;
}

// Frame names of an export of `nodes` from startFrame to endFrame.
Names NamesOf(std::vector<NodeData> nodes, int32_t startFrame, int32_t endFrame, int pasteKeyLimit = -1) {
    ExportRun run = RunExport(SceneWith(std::move(nodes)),
                              {.startFrame = startFrame, .endFrame = endFrame, .pasteKeyLimit = pasteKeyLimit});
    EXPECT_TRUE(run.written) << run.errorText;
    EXPECT_TRUE(run.allReleasedOnce);
    return run.file.frameNames;
}

Names Defaults(int from, int to) {
    Names names;
    for (int i = from; i <= to; ++i) names.push_back("Frame" + std::to_string(i));
    return names;
}

Names Sequence(const std::string& text, int from, int to) {
    Names names;
    for (int c = from; c <= to; ++c) names.push_back(text + std::to_string(c));
    return names;
}

Names Join(std::vector<Names> parts) {
    Names all;
    for (Names& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(FrameNames, NamesEachSequenceFromItsKey) {
    EXPECT_EQ(NamesOf({Namer({{0, "walk"}, {8 * 160, "run"}, {12 * 160, "jump"}})}, 0, 15),
              Join({Sequence("walk", 0, 7), Sequence("run", 0, 3), Sequence("jump", 0, 3)}));
    EXPECT_EQ(NamesOf({Namer({{10 * 160, "idle"}})}, 0, 13), Join({Defaults(0, 9), Sequence("idle", 0, 3)}));
    // A mesh beside the helper changes nothing.
    EXPECT_EQ(NamesOf({MeshNode("Hull", Square()), Namer({{0, "walk"}, {2 * 160, "run"}})}, 0, 3),
              Join({Sequence("walk", 0, 1), Sequence("run", 0, 1)}));
}

TEST(FrameNames, OnlyTheExactNameAndTheFirstTrackCount) {
    EXPECT_EQ(NamesOf({Namer({{0, "walk"}}, "framenames")}, 0, 2), Defaults(0, 2));
    EXPECT_EQ(NamesOf({Namer({{0, "walk"}}, "FrameNames01")}, 0, 2), Defaults(0, 2));
    EXPECT_EQ(NamesOf({Namer({{0, "walk"}}, " FrameNames")}, 0, 2), Defaults(0, 2));

    NodeData noTracks = ObjectNode("FrameNames", quorvex::scene::ObjectKind::Helper);
    EXPECT_EQ(NamesOf({noTracks}, 0, 2), Defaults(0, 2));

    NodeData emptyFirst = Namer({});
    emptyFirst.noteTracks.push_back({{0, "walk"}});
    EXPECT_EQ(NamesOf({emptyFirst}, 0, 2), Defaults(0, 2));

    NodeData twoTracks = Namer({{0, "walk"}});
    twoTracks.noteTracks.push_back({{0, "run"}, {160, "jump"}});
    EXPECT_EQ(NamesOf({twoTracks}, 0, 2), Sequence("walk", 0, 2));

    // A mesh named FrameNames is a mesh, not a namer.
    NodeData mesh = MeshNode("FrameNames", Square());
    mesh.noteTracks.push_back({{0, "walk"}});
    EXPECT_EQ(NamesOf({mesh}, 0, 1), Defaults(0, 1));
}

TEST(FrameNames, KeyFramesTruncateTowardZero) {
    // 100 ticks is frame 0, like the key before it, whose segment is then
    // empty; 250 ticks is frame 1.
    EXPECT_EQ(NamesOf({Namer({{0, "a"}, {100, "b"}, {250, "c"}})}, 0, 3), Names({"b0", "c0", "c1", "c2"}));
    // -100 ticks is frame 0, -200 ticks frame -1.
    EXPECT_EQ(NamesOf({Namer({{-100, "z"}, {160, "o"}})}, 0, 2), Names({"z0", "o0", "o1"}));
    EXPECT_EQ(NamesOf({Namer({{-200, "n"}, {320, "p"}})}, 0, 3), Names({"n1", "n2", "p0", "p1"}));
    // A key before a later one names nothing backwards.
    EXPECT_EQ(NamesOf({Namer({{3 * 160, "late"}, {160, "early"}})}, 0, 4),
              Join({Defaults(0, 2), Sequence("early", 0, 1)}));
}

TEST(FrameNames, EachModelFrameTakesTheNameOfTheSceneFrameItHolds) {
    struct Case {
        std::vector<NoteKeyData> keys;
        int32_t startFrame, endFrame;
        Names expected;
    };
    const std::vector<Case> cases = {
        {{{-3 * 160, "loop"}}, 0, 3, Sequence("loop", 3, 6)},
        {{{5 * 160, "go"}}, 0, 7, Join({Defaults(0, 4), Sequence("go", 0, 2)})},
        {{{10 * 160, "x"}}, 10, 25, Sequence("x", 0, 15)},
        {{{0, "idle"}, {20 * 160, "spin"}}, 25, 29, Sequence("spin", 5, 9)},
        {{{0, "idle"}, {20 * 160, "spin"}}, 18, 21, Names({"idle18", "idle19", "spin0", "spin1"})},
        {{{0, "idle"}}, 2, 2, Names({"idle2"})},
        {{{-3 * 160, "loop"}}, -3, 0, Sequence("loop", 0, 3)},
        // Frames before the first key keep their default names, by model slot.
        {{{12 * 160, "late"}}, 10, 13, Join({Defaults(0, 1), Sequence("late", 0, 1)})},
        // Keys beyond the last slot name nothing.
        {{{0, "a"}, {20 * 160, "b"}, {40 * 160, "c"}}, 0, 3, Sequence("a", 0, 3)},
        {{{0, "a"}, {20 * 160, "b"}}, 50, 51, Sequence("b", 30, 31)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NamesOf({Namer(c.keys)}, c.startFrame, c.endFrame), c.expected)
            << "frames " << c.startFrame << ".." << c.endFrame;
    }
}

TEST(FrameNames, NamesAreCutAt15Bytes) {
    EXPECT_EQ(NamesOf({Namer({{0, ""}})}, 0, 2), Names({"0", "1", "2"}));
    Names cut = Sequence("abcdefghijklmn", 0, 9);
    cut.push_back("abcdefghijklmn1");
    cut.push_back("abcdefghijklmn1");
    EXPECT_EQ(NamesOf({Namer({{0, "abcdefghijklmn"}})}, 0, 11), cut);
    EXPECT_EQ(NamesOf({Namer({{0, std::string(300, 'q')}})}, 0, 1), Names(2, std::string(15, 'q')));
}

TEST(FrameNames, CountersAreSixtyFourBitAndFarKeysCostNothing) {
    // One tick per frame: the first key is frame -2147483648 and its segment
    // is 2^32 - 1 frames long; only the three exported slots are named.
    SceneDocument doc = SceneWith({Namer({{INT32_MIN, "a"}, {INT32_MAX, "b"}})});
    doc.ticksPerFrame = 1;
    ExportRun run = RunExport(doc, {.startFrame = 0, .endFrame = 2});
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.frameNames, Names({"a2147483648", "a2147483649", "a2147483650"}));
}

TEST(FrameNames, HiddenAndRepeatedHelpersName) {
    NodeData hidden = Namer({{0, "walk"}});
    hidden.hidden = true;
    EXPECT_EQ(NamesOf({hidden}, 0, 1), Sequence("walk", 0, 1));

    // A later helper overwrites the slots it names, below another node too.
    NodeData parent = MeshNode("Hull", Square());
    parent.children.push_back(Namer({{2 * 160, "run"}}));
    EXPECT_EQ(NamesOf({Namer({{0, "walk"}}), parent}, 0, 3), Names({"walk0", "walk1", "run0", "run1"}));
}

TEST(FrameNames, StopsWhereTheNoteCopyEnds) {
    const std::vector<NoteKeyData> keys = {{0, "walk"}, {2 * 160, "run"}, {4 * 160, "jump"}};
    EXPECT_EQ(NamesOf({Namer(keys)}, 0, 5, 1), Join({Sequence("walk", 0, 1), Defaults(2, 5)}));
    EXPECT_EQ(NamesOf({Namer(keys)}, 0, 5, 2), Join({Sequence("walk", 0, 1), Sequence("run", 0, 1), Defaults(4, 5)}));
    EXPECT_EQ(NamesOf({Namer(keys)}, 0, 5, 0), Defaults(0, 5));

    ExportRun run = RunExport(SceneWith({Namer(keys)}), {.endFrame = 5});
    EXPECT_EQ(run.counters.clipsMade, 1);
    EXPECT_EQ(run.counters.clipsReleased, 1);
    EXPECT_EQ(run.counters.noteTracksMade, 1);
    EXPECT_EQ(run.counters.noteTracksDeleted, 1);
}

}  // namespace
