#include <gtest/gtest.h>

#include "support/FormatMessage.h"

using va::FormatMessageString;

TEST(FormatMessage, InsertsNumberedArguments) {
    EXPECT_EQ(FormatMessageString("%2 before %1", {std::string("a"), std::string("b")}),
              "b before a");
    EXPECT_EQ(FormatMessageString("%1!u!.%2!u!.%3!u!.%4!u!",
                                  {int64_t(5), int64_t(0), int64_t(3), int64_t(1)}),
              "5.0.3.1");
    EXPECT_EQ(FormatMessageString("[%1!04X!]", {int64_t(0xab)}), "[00AB]");
    EXPECT_EQ(FormatMessageString("%1!s!", {std::string("x")}), "x");
    EXPECT_EQ(
        FormatMessageString("%10", {int64_t(1), int64_t(2), int64_t(3), int64_t(4), int64_t(5),
                                    int64_t(6), int64_t(7), int64_t(8), int64_t(9), int64_t(10)}),
        "10");
}

TEST(FormatMessage, EscapesAndEnd) {
    EXPECT_EQ(FormatMessageString("100%% sure%n", {}), "100% sure\r\n");
    EXPECT_EQ(FormatMessageString("stop%0here", {}), "stop");
    EXPECT_EQ(FormatMessageString("a%!b%.c", {}), "a!b.c");
}

TEST(FormatMessage, MissingOrMalformedInsertsFail) {
    EXPECT_FALSE(FormatMessageString("%1", {}).has_value());
    EXPECT_FALSE(FormatMessageString("%1!u", {int64_t(1)}).has_value());
    EXPECT_FALSE(FormatMessageString("%1!u!", {std::string("text")}).has_value());
    EXPECT_FALSE(FormatMessageString("%1!n!", {int64_t(1)}).has_value());
}
