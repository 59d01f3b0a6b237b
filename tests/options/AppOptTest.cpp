// Option values and their conversions.
#include <gtest/gtest.h>

#include "options/AppOpt.h"

namespace {

TEST(AppOpt, StringsReadAsBoolByTheirFirstCharacterOrAWord) {
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"", false},    {"0", false},   {"0yes", false}, {"1", true},     {"9x", true},
        {"True", true}, {"T", true},    {"true", false}, {"t", false},    {"JA", true},
        {"Ja", true},   {"On", true},   {"on", true},    {"yes", true},   {"YES", true},
        {"no", false},  {"off", false}, {"only", false}, {"yes ", false}, {"-1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CAppOpt(c.text).GetBool(), c.expected) << '"' << c.text << '"';
}

TEST(AppOpt, StringsReadAsNumbersLikeStrtol) {
    EXPECT_EQ(CAppOpt("0x10").GetInt(), 16);
    EXPECT_EQ(CAppOpt("010").GetInt(), 8);
    EXPECT_EQ(CAppOpt("42abc").GetInt(), 42);
    EXPECT_EQ(CAppOpt("-7").GetInt(), -7);
    EXPECT_EQ(CAppOpt("x").GetInt(), 0);
    EXPECT_EQ(CAppOpt("0xFFFFFFFF").GetInt(), INT32_MAX);  // a 32-bit long's limit
    EXPECT_EQ(CAppOpt("-99999999999").GetInt(), INT32_MIN);
    EXPECT_DOUBLE_EQ(CAppOpt("2.5").GetDouble(), 2.5);
    EXPECT_DOUBLE_EQ(CAppOpt("1e3x").GetDouble(), 1000.0);
}

TEST(AppOpt, BoolsAndIntegersConvertToEveryForm) {
    CAppOpt yes(true), no(false), n(int32_t(-12));
    EXPECT_EQ(yes.GetInt(), 1);
    EXPECT_EQ(yes.GetString(), "1");
    EXPECT_DOUBLE_EQ(yes.GetDouble(), 1.0);
    EXPECT_EQ(no.GetString(), "0");
    EXPECT_TRUE(n.GetBool());
    EXPECT_EQ(n.GetString(), "-12");
    EXPECT_DOUBLE_EQ(n.GetDouble(), -12.0);
    EXPECT_FALSE(CAppOpt(int32_t(0)).GetBool());
    EXPECT_EQ(yes.GetStream(), nullptr);
}

TEST(AppOpt, StreamsAreRewoundAndReadAsEmptyOtherwise) {
    CComPtr<IStream> stream;
    const char data[] = "abc";
    ASSERT_EQ(CreateStreamOnHGlobal(&stream, data, 3), S_OK);
    CAppOpt opt(stream.Get());
    EXPECT_FALSE(opt.GetBool());
    EXPECT_EQ(opt.GetInt(), 0);
    EXPECT_EQ(opt.GetString(), "");
    char buf[4] = {};
    ULONG read = 0;
    opt.GetStream()->Read(buf, 3, &read);
    EXPECT_EQ(read, 3u);
    CComPtr<IStream> again = opt.GetStream();
    again->Read(buf, 3, &read);
    EXPECT_EQ(read, 3u);
    EXPECT_STREQ(buf, "abc");
}

TEST(AppOpt, EmptyHandlesReadAsNothing) {
    CAppOpt empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(empty.GetBool());
    EXPECT_EQ(empty.GetInt(), 0);
    EXPECT_EQ(empty.GetString(), "");
    EXPECT_EQ(empty.GetStream(), nullptr);
    EXPECT_FALSE(empty.Equals(empty));
    EXPECT_FALSE(empty.Equals(CAppOpt(true)));
    EXPECT_FALSE(CAppOpt(true).Equals(empty));
}

TEST(AppOpt, ValuesCompareOnlyWithTheirOwnType) {
    EXPECT_TRUE(CAppOpt(true).Equals(CAppOpt(true)));
    EXPECT_FALSE(CAppOpt(true).Equals(CAppOpt(false)));
    EXPECT_TRUE(CAppOpt(int32_t(5)).Equals(CAppOpt(int32_t(5))));
    EXPECT_FALSE(CAppOpt(int32_t(1)).Equals(CAppOpt(true)));
    EXPECT_TRUE(CAppOpt("Abc").Equals(CAppOpt("Abc")));
    EXPECT_FALSE(CAppOpt("Abc").Equals(CAppOpt("abc")));
    EXPECT_FALSE(CAppOpt("1").Equals(CAppOpt(int32_t(1))));
    // The string forms agree, though.
    EXPECT_TRUE(CAppOpt("1").GetValue()->EqualsAny(*CAppOpt(int32_t(1)).GetValue()));
    CComPtr<IStream> s;
    CreateStreamOnHGlobal(&s);
    CAppOpt stream(s.Get());
    EXPECT_FALSE(stream.Equals(stream));
}

TEST(AppOpt, CopiesShareOneValue) {
    CAppOpt a("x");
    {
        CAppOpt b = a;
        EXPECT_EQ(a.GetValue(), b.GetValue());
        EXPECT_EQ(a.GetValue()->RefCount(), 2);
        b = CAppOpt(true);
        EXPECT_EQ(a.GetValue()->RefCount(), 1);
        b = a;
        b = b;
        EXPECT_EQ(a.GetValue()->RefCount(), 2);
    }
    EXPECT_EQ(a.GetValue()->RefCount(), 1);
}

}  // namespace
