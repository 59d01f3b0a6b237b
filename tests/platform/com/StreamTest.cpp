#include <gtest/gtest.h>

#include "platform/com/Stream.h"

TEST(MemoryStream, WriteSeekReadAndStat) {
    CComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(&s), S_OK);
    ULONG n = 0;
    EXPECT_EQ(s->Write("hello world", 11, &n), S_OK);
    EXPECT_EQ(n, 11u);
    uint64_t pos = 0;
    EXPECT_EQ(s->Seek(-5, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos, 6u);
    char buf[16] = {};
    EXPECT_EQ(s->Read(buf, 10, &n), S_FALSE);  // only 5 left
    EXPECT_EQ(n, 5u);
    EXPECT_STREQ(buf, "world");
    STATSTG st;
    EXPECT_EQ(s->Stat(&st, 0), S_OK);
    EXPECT_EQ(st.cbSize, 11u);
}

TEST(MemoryStream, SeekBeforeStartFailsAndWritePastEndGrows) {
    CComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(&s, "abc", 3), S_OK);
    EXPECT_EQ(s->Seek(-1, STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(5, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s->Write("z", 1, nullptr), S_OK);
    STATSTG st;
    s->Stat(&st, 0);
    EXPECT_EQ(st.cbSize, 6u);
    char buf[6];
    s->Seek(0, STREAM_SEEK_SET, nullptr);
    s->Read(buf, 6, nullptr);
    EXPECT_EQ(std::string(buf, 6), std::string("abc\0\0z", 6));
    EXPECT_EQ(s->Seek(0, 7, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->SetSize(CMemoryStream::kMaxSize + 1), STG_E_MEDIUMFULL);
}

TEST(MemoryStream, AnswersSequentialStream) {
    CComPtr<IStream> s;
    CreateStreamOnHGlobal(&s);
    CComPtr<ISequentialStream> seq = s;
    EXPECT_TRUE(seq);
}
