// VARIANT coercion as the automation layer performs it, and the property
// bag's text file.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/Persist.h"
#include "tests/TestSupport.h"

TEST(Dispatch, VariantChangeTypeCoercesLikeAutomation) {
    struct Case {
        VARIANT from;
        VARTYPE to;
        HRESULT hr;
        std::string text;  // the result as text
    } cases[] = {
        {VARIANT::FromString(" 12 "), VT_I4, S_OK, "12"},
        {VARIANT::FromString("2.5"), VT_I4, S_OK, "2"},  // half to even
        {VARIANT::FromString("3.5"), VT_I4, S_OK, "4"},
        {VARIANT::FromString("abc"), VT_I4, DISP_E_TYPEMISMATCH, ""},
        {VARIANT::FromString(""), VT_R8, DISP_E_TYPEMISMATCH, ""},
        {VARIANT::FromString("1e300"), VT_I4, DISP_E_OVERFLOW, ""},
        {VARIANT::FromString("nan"), VT_R8, DISP_E_TYPEMISMATCH, ""},
        {VARIANT::FromString("TRUE"), VT_BOOL, S_OK, "True"},
        {VARIANT::FromString("0"), VT_BOOL, S_OK, "False"},
        {VARIANT::FromString("-1"), VT_BOOL, S_OK, "True"},
        {VARIANT::FromR8(0.333), VT_BSTR, S_OK, "0.333"},
        {VARIANT::FromBool(true), VT_I4, S_OK, "-1"},
        {VARIANT(), VT_I4, S_OK, "0"},
        {VARIANT::FromDispatch(nullptr), VT_I4, DISP_E_TYPEMISMATCH, ""},
    };
    for (const Case& c : cases) {
        VARIANT out;
        EXPECT_EQ(VariantChangeType(&out, &c.from, 0, c.to), c.hr) << c.from.bstrVal;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(out.vt, c.to);
            VARIANT text;
            ASSERT_EQ(VariantChangeType(&text, &out, 0, VT_BSTR), S_OK);
            EXPECT_EQ(text.bstrVal, c.text) << c.from.bstrVal;
        }
    }
}

TEST(Dispatch, PropertyBagFileRoundTripsEscapes) {
    vtest::TempDir dir;
    CComPtr<CPropertyBag> bag(new CPropertyBag);
    VARIANT text = VARIANT::FromString("a\\b\nc\r"), flag = VARIANT::FromBool(true);
    bag->Write("Name", &text);
    bag->Write("Flag", &flag);
    ASSERT_TRUE(bag->SaveFile(dir.File("bag")));
    CComPtr<CPropertyBag> loaded(new CPropertyBag);
    ASSERT_TRUE(loaded->LoadFile(dir.File("bag")));
    VARIANT name, on;
    on.vt = VT_BOOL;
    EXPECT_EQ(loaded->Read("NAME", &name, nullptr), S_OK);
    EXPECT_EQ(name.bstrVal, "a\\b\nc\r");
    EXPECT_EQ(loaded->Read("flag", &on, nullptr), S_OK);
    EXPECT_EQ(on.boolVal, VARIANT_TRUE);
    EXPECT_EQ(loaded->Read("Missing", &on, nullptr), E_INVALIDARG);
    vtest::WriteFile(dir.File("bad"), "no equals sign\n");
    EXPECT_FALSE(loaded->LoadFile(dir.File("bad")));
    EXPECT_EQ(loaded->Count(), 2u);
}
