#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/com/ErrorText.h"
#include "tests/TestSupport.h"
#include "tests/platform/dshow/GraphTestSupport.h"

using namespace graphtest;
using namespace vtest;

namespace {

// Renders a file that cannot be played: the result must come quickly, be a
// failure with a text, and leave the graph empty and usable.
HRESULT RenderBad(const std::string& path) {
    CGraph g;
    auto start = std::chrono::steady_clock::now();
    HRESULT hr = g.builder->RenderFile(path.c_str(), nullptr);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(CFilterGraph::kPrerollTimeoutMs));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(0u, g.FilterCount());
    std::string text = AMGetErrorText(hr);
    if (text.empty())
        text = FormatSystemMessage(hr);
    EXPECT_FALSE(text.empty()) << std::hex << hr;
    // The graph still renders a good clip afterwards.
    EXPECT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    return hr;
}

std::string Bytes(const std::string& path) {
    return ReadFile(path);
}

TEST(GraphErrors, EachBadFileHasItsOwnResult) {
    TempDir dir;
    std::string missing = dir.Path() + "/no such file.webm";
    std::string text = dir.Path() + "/notes.webm";
    WriteFile(text, std::string(2000, 'x') + "\nThis is not a video at all.\n");
    std::string empty = dir.Path() + "/empty.webm";
    WriteFile(empty, "");
    std::string truncated = dir.Path() + "/truncated.webm";
    WriteFile(truncated, Bytes(testmedia::Video25()).substr(0, 300));
    std::string noDecoder = dir.Path() + "/nodecoder.webm";
    std::string clip = Bytes(testmedia::Video25());
    size_t codec = clip.find("V_VP8");
    ASSERT_NE(std::string::npos, codec);
    clip.replace(codec, 5, "V_QQ8");
    WriteFile(noDecoder, clip);
    std::string folder = dir.Path() + "/folder.webm";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));

    EXPECT_EQ(VFW_E_NOT_FOUND, RenderBad(missing));
    EXPECT_EQ(E_ACCESSDENIED, RenderBad(folder));
    EXPECT_EQ(VFW_E_UNKNOWN_FILE_TYPE, RenderBad(text));
    EXPECT_EQ(VFW_E_FILE_TOO_SHORT, RenderBad(empty));
    EXPECT_EQ(VFW_E_FILE_TOO_SHORT, RenderBad(truncated));
    EXPECT_EQ(VFW_E_NO_DECOMPRESSOR, RenderBad(noDecoder));
    if (geteuid() != 0) {
        std::string locked = dir.Path() + "/locked.webm";
        WriteFile(locked, Bytes(testmedia::Video25()));
        chmod(locked.c_str(), 0);
        EXPECT_EQ(E_ACCESSDENIED, RenderBad(locked));
    }
}

TEST(GraphErrors, EmptyGraphAnswersWithoutMedia) {
    CGraph g;
    OAFilterState state;
    EXPECT_EQ(S_OK, g.control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    LONGLONG t;
    EXPECT_EQ(E_NOTIMPL, g.seeking->GetDuration(&t));
    EXPECT_EQ(E_NOTIMPL, g.seeking->GetCurrentPosition(&t));
    EXPECT_EQ(S_OK, g.control->Run());
    EXPECT_EQ(S_OK, g.control->Pause());
    EXPECT_TRUE(g.WaitEvent(EC_PAUSED, nullptr, 0));
    EXPECT_EQ(S_OK, g.control->Stop());
    CComPtr<IBasicVideo> video = g.builder;
    EXPECT_FALSE(video);
    CComPtr<IBasicAudio> audio = g.builder;
    EXPECT_FALSE(audio);
    EXPECT_EQ(E_POINTER, g.builder->RenderFile(nullptr, nullptr));
    EXPECT_EQ(VFW_E_NOT_FOUND, g.builder->RenderFile("", nullptr));
}

TEST(GraphErrors, UnplayableUrlFailsCleanly) {
    CGraph g;
    EXPECT_TRUE(FAILED(g.builder->RenderFile("nosuchscheme://host/clip.webm", nullptr)));
    EXPECT_EQ(0u, g.FilterCount());
}

// Graphs come and go without leaking threads or hanging.
TEST(GraphErrors, ManyGraphsInARow) {
    for (int i = 0; i < 20; ++i) {
        CGraph g;
        ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
        g.control->Run();
        if (i % 2)
            g.control->Stop();
    }
}

}  // namespace
