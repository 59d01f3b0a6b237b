// The playlist time line: list starts, finding and selecting clips, seeking,
// lazily learned lengths and the end of clips.
#include <gtest/gtest.h>

#include "FakeHandler.h"
#include "playlist/PlayList.h"
#include "playlist/WaitCursor.h"
#include "support/Exception.h"

namespace {

constexpr REFERENCE_TIME S = UNITS;
constexpr REFERENCE_TIME kUnset = -1;
constexpr REFERENCE_TIME kZero = 0;
using Seeks = std::vector<CFakeHandler::SeekCall>;

// A [0,10 s] and B [20 s,30 s] of one file, C of another with no duration.
const char* kThreeClips =
    "<asx><entry><title>A</title><ref href=\"one.avi\"/><duration value=\"10\"/></entry>"
    "<entry><title>B</title><ref href=\"one.avi\"/><starttime value=\"20\"/>"
    "<duration value=\"10\"/></entry>"
    "<entry><title>C</title><ref href=\"two.avi\"/></entry></asx>";

class PlayListTest : public testing::Test {
protected:
    void Load(const std::string& text) {
        list.SetHandler(&handler);
        list.LoadXml(text, "/m");
    }
    std::tuple<bool, REFERENCE_TIME, REFERENCE_TIME> ListRange(int i) const {
        REFERENCE_TIME start = 7, end = 7;
        bool known = list.GetClipListRange(i, start, end);
        return {known, start, end};
    }
    std::pair<REFERENCE_TIME, REFERENCE_TIME> FileRange(int i) const {
        REFERENCE_TIME start = 7, end = 7;
        list.GetClipFileRange(i, start, end);
        return {start, end};
    }

    CFakeHandler handler;
    CPlayList list;
};

TEST_F(PlayListTest, ThreeClipTimeLine) {
    Load(kThreeClips);
    EXPECT_EQ(handler.opened, std::vector<std::string>{"/m/one.avi"});
    EXPECT_TRUE(handler.seeks.empty());  // clip A begins at 0
    EXPECT_EQ(ListRange(0), std::make_tuple(true, kZero, 10 * S));
    EXPECT_EQ(ListRange(1), std::make_tuple(true, 10 * S, 20 * S));
    EXPECT_EQ(ListRange(2), std::make_tuple(true, 20 * S, kUnset));
    EXPECT_EQ(list.GetDuration(), 20 * S);
    EXPECT_EQ(list.FindClip(25 * S), 2);  // C is last
    EXPECT_EQ(list.FindClip(5 * S), 0);
    EXPECT_EQ(list.FindClip(10 * S), 1);
    EXPECT_EQ(list.FindClip(-5 * S), 0);  // before the playlist: the first clip
    EXPECT_TRUE(list.IsWholeFile(2));
    EXPECT_FALSE(list.IsWholeFile(1));

    handler.position = 3 * S;
    EXPECT_EQ(list.GetPosition(), 3 * S);
}

TEST_F(PlayListTest, SameFileSeeksOtherFileOpens) {
    handler.lengths["/m/two.avi"] = 50 * S;
    Load(kThreeClips);
    handler.Reset();

    EXPECT_EQ(list.NextClip(), PLAYLIST_SAME_FILE);
    EXPECT_TRUE(handler.opened.empty());
    EXPECT_EQ(handler.seeks, (Seeks{{20 * S, false}}));
    EXPECT_EQ(list.GetCurrentClip(), 1);
    handler.position = 22 * S;
    EXPECT_EQ(list.GetPosition(), 12 * S);

    handler.Reset();
    EXPECT_EQ(list.NextClip(), PLAYLIST_OTHER_FILE);
    EXPECT_EQ(handler.opened, std::vector<std::string>{"/m/two.avi"});
    EXPECT_TRUE(handler.seeks.empty());  // C starts at 0
    EXPECT_EQ(handler.changes, 1);       // C's length was learned
    EXPECT_EQ(ListRange(2), std::make_tuple(true, 20 * S, 70 * S));
    EXPECT_EQ(list.GetDuration(), 70 * S);

    EXPECT_EQ(list.NextClip(), PLAYLIST_FINISHED);
    handler.position = 60 * S;
    EXPECT_EQ(list.CheckClipEnd(true), PLAYLIST_FINISHED);
    EXPECT_EQ(list.CheckClipEnd(false), PLAYLIST_FINISHED);
    EXPECT_EQ(list.GetCurrentClip(), 2);
}

TEST_F(PlayListTest, LengthsAreLearnedOnce) {
    handler.lengths["/m/one.avi"] = 100 * S;
    handler.lengths["/m/two.avi"] = 50 * S;
    Load(kThreeClips);
    EXPECT_EQ(handler.changes, 0);  // no clip was current while the first length was learned
    list.SetPosition(25 * S);
    EXPECT_EQ(list.GetCurrentClip(), 2);
    EXPECT_EQ(handler.changes, 1);
    EXPECT_EQ(handler.seeks.back(), (CFakeHandler::SeekCall{5 * S, false}));

    handler.Reset();
    list.SetPosition(0);
    EXPECT_EQ(handler.opened, std::vector<std::string>{"/m/one.avi"});
    EXPECT_TRUE(handler.seeks.empty());  // freshly opened at its beginning
    list.SetPosition(25 * S);
    EXPECT_EQ(handler.opened.size(), 2u);
    EXPECT_EQ(handler.changes, 0);  // same lengths again: nothing changed
}

TEST_F(PlayListTest, FirstOpenLearnsLengthWithoutNotifying) {
    handler.lengths["/m/a.avi"] = 40 * S;
    Load("<asx><entry><ref href=\"a.avi\"/></entry><entry><ref href=\"b.avi\"/></entry></asx>");
    EXPECT_EQ(handler.changes, 0);
    EXPECT_EQ(ListRange(0), std::make_tuple(true, kZero, 40 * S));
    EXPECT_EQ(ListRange(1), std::make_tuple(true, 40 * S, kUnset));
    EXPECT_TRUE(list.IsWholeFile(0));
}

TEST_F(PlayListTest, ClipsAreCutToTheFile) {
    handler.lengths["/m/a.avi"] = 50 * S;
    Load(
        "<asx><entry><ref href=\"a.avi\"/><duration value=\"100\"/></entry>"
        "<entry><ref href=\"a.avi\"/><starttime value=\"80\"/><duration value=\"10\"/></entry>"
        "<entry><ref href=\"a.avi\"/><starttime value=\"10\"/><duration value=\"5\"/></entry>"
        "</asx>");
    EXPECT_EQ(FileRange(0), std::make_pair(kZero, 50 * S));
    EXPECT_TRUE(list.IsWholeFile(0));
    EXPECT_EQ(FileRange(1), std::make_pair(80 * S, 80 * S));  // starts beyond the file
    EXPECT_EQ(FileRange(2), std::make_pair(10 * S, 15 * S));  // fits: unchanged
    EXPECT_EQ(ListRange(1), std::make_tuple(true, 50 * S, 50 * S));
    EXPECT_EQ(ListRange(2), std::make_tuple(true, 50 * S, 55 * S));
    EXPECT_EQ(list.GetDuration(), 55 * S);
}

TEST_F(PlayListTest, PathsDifferingInCaseShareOneFile) {
    Load(
        "<asx><entry><ref href=\"C:\\Video\\a.avi\"/><duration value=\"10\"/></entry>"
        "<entry><ref href=\"c:\\video\\A.AVI\"/><starttime value=\"30\"/>"
        "<duration value=\"10\"/></entry>"
        "<entry><ref href=\"C:\\VIDEO\\a.avi\"/></entry></asx>");
    EXPECT_EQ(list.GetClipFile(1), "C:\\Video\\a.avi");  // the first spelling wins
    EXPECT_EQ(list.NextClip(), PLAYLIST_SAME_FILE);
    EXPECT_EQ(list.NextClip(), PLAYLIST_SAME_FILE);
    list.SetPosition(0);
    EXPECT_EQ(handler.opened.size(), 1u);
}

TEST_F(PlayListTest, CheckClipEndReportsAndAdvances) {
    Load(
        "<asx><entry><ref href=\"a.avi\"/><duration value=\"10\"/></entry>"
        "<entry><ref href=\"a.avi\"/><starttime value=\"10\"/><duration value=\"10\"/></entry>"
        "<entry><ref href=\"b.avi\"/><starttime value=\"3\"/></entry></asx>");
    handler.Reset();
    handler.position = 9 * S;
    EXPECT_EQ(list.CheckClipEnd(true), PLAYLIST_IN_CLIP);
    handler.position = 10 * S;
    EXPECT_EQ(list.CheckClipEnd(true), PLAYLIST_SAME_FILE);
    EXPECT_EQ(list.GetCurrentClip(), 0);  // report only
    EXPECT_EQ(list.CheckClipEnd(false), PLAYLIST_SAME_FILE);
    EXPECT_EQ(list.GetCurrentClip(), 1);
    handler.position = 20 * S;
    EXPECT_EQ(list.CheckClipEnd(true), PLAYLIST_OTHER_FILE);
    EXPECT_TRUE(handler.opened.empty());
    EXPECT_EQ(list.CheckClipEnd(false), PLAYLIST_OTHER_FILE);
    EXPECT_EQ(handler.opened, std::vector<std::string>{"/m/b.avi"});
    // The new file is sought to the clip's start, allowed to run first.
    EXPECT_EQ(handler.seeks.back(), (CFakeHandler::SeekCall{3 * S, true}));
    handler.position = 1000 * S;
    EXPECT_EQ(list.CheckClipEnd(true), PLAYLIST_IN_CLIP);  // open end never fails the test
    EXPECT_EQ(list.NextClip(), PLAYLIST_FINISHED);
}

TEST_F(PlayListTest, SetPositionOutsideThePlaylist) {
    Load(
        "<asx><entry><ref href=\"a.avi\"/><duration value=\"10\"/></entry>"
        "<entry><ref href=\"b.avi\"/><duration value=\"10\"/></entry></asx>");
    handler.Reset();
    list.SetPosition(500 * S);
    EXPECT_EQ(list.GetCurrentClip(), 1);
    EXPECT_EQ(handler.seeks.back(), (CFakeHandler::SeekCall{490 * S, false}));
    list.SetPosition(-5 * S);
    EXPECT_EQ(list.GetCurrentClip(), 0);
    EXPECT_EQ(handler.opened.size(), 2u);
    // Opened afresh and before its start: no seek.
    EXPECT_EQ(handler.seeks.size(), 1u);
}

TEST_F(PlayListTest, ClipsAfterAnUnknownLengthAreNotOnTheTimeLine) {
    Load(
        "<asx><entry><ref href=\"a.avi\"/></entry>"
        "<entry><ref href=\"b.avi\"/><duration value=\"10\"/></entry></asx>");
    EXPECT_EQ(ListRange(1), std::make_tuple(false, kUnset, kUnset));
    EXPECT_EQ(list.FindClip(1000 * S), 0);  // the first clip: open end
    handler.Reset();
    list.SetPosition(1000 * S);
    EXPECT_EQ(list.GetCurrentClip(), 0);
    EXPECT_EQ(handler.seeks, (Seeks{{1000 * S, false}}));
}

TEST_F(PlayListTest, BadIndexesAnswerEmpty) {
    Load(kThreeClips);
    for (int index : {-1, 3, 1000}) {
        EXPECT_EQ(list.GetClipFile(index), "");
        EXPECT_EQ(list.GetClipTitle(index), "");
        EXPECT_EQ(list.GetClipAbstract(index), "");
        EXPECT_FALSE(list.IsWholeFile(index));
        EXPECT_EQ(ListRange(index), std::make_tuple(false, kZero, kZero));
        EXPECT_EQ(FileRange(index), std::make_pair(kZero, kZero));
    }
    EXPECT_EQ(list.GetInfo()->GetCount(), 3);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetDuration(), 0);
    EXPECT_EQ(list.FindClip(0), -1);
    EXPECT_EQ(list.CheckClipEnd(false), PLAYLIST_IN_CLIP);
    EXPECT_EQ(list.NextClip(), PLAYLIST_FINISHED);
}

TEST_F(PlayListTest, FailedOpenLeavesTheCurrentClip) {
    Load(kThreeClips);
    handler.failOn = "/m/two.avi";
    EXPECT_THROW(list.SetPosition(25 * S), std::runtime_error);
    EXPECT_EQ(list.GetCurrentClip(), 0);
    EXPECT_EQ(list.NextClip(), PLAYLIST_SAME_FILE);  // B needs no opening
    EXPECT_THROW(list.NextClip(), std::runtime_error);
    EXPECT_EQ(list.GetCurrentClip(), 1);
}

TEST_F(PlayListTest, WaitCursorAroundOpeningOnly) {
    std::vector<bool> calls;
    SetWaitCursorHook([&](bool waiting) { calls.push_back(waiting); });
    Load(kThreeClips);
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
    list.NextClip();  // same file: no wait
    EXPECT_EQ(calls.size(), 2u);
    handler.failOn = "/m/two.avi";
    EXPECT_THROW(list.NextClip(), std::runtime_error);
    EXPECT_EQ(calls, (std::vector<bool>{true, false, true, false}));
    SetWaitCursorHook(nullptr);
}

TEST(PlayListWithoutHandler, RefusesToPlay) {
    CPlayList list;
    try {
        list.LoadXml("<asx><entry><ref href=\"a.avi\"/></entry></asx>", "");
        FAIL();
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetCurrentClip(), -1);
}

}  // namespace

// A clip whose file fails to open lasts no time: the next keeps its place.
TEST_F(PlayListTest, ClipsAfterAnUnplayableOneKeepTheirPlaces) {
    handler.lengths["/m/a.avi"] = 10 * S;
    handler.lengths["/m/c.avi"] = 20 * S;
    handler.failOn = "/m/gone.avi";
    Load(
        "<asx><entry><ref href=\"a.avi\"/></entry><entry><ref href=\"gone.avi\"/></entry>"
        "<entry><ref href=\"c.avi\"/></entry></asx>");
    EXPECT_ANY_THROW(list.NextClip());
    list.SetClipUnplayable(1);
    EXPECT_EQ(list.ReopenClip(2), PLAYLIST_OTHER_FILE);
    EXPECT_EQ(ListRange(1), std::make_tuple(true, 10 * S, 10 * S));
    EXPECT_EQ(ListRange(2), std::make_tuple(true, 10 * S, 30 * S));
    EXPECT_EQ(list.FindClip(12 * S), 2);
    handler.position = 2 * S;
    EXPECT_EQ(list.GetPosition(), 12 * S);
}
