// The XML wrapper values: validity, shared ownership and the failure rules.
#include <gtest/gtest.h>

#include "playlist/XMLDOMAttribute.h"
#include "playlist/XMLDOMDocument.h"
#include "playlist/XMLDOMElement.h"
#include "playlist/XMLException.h"
#include "playlist/XSLTemplate.h"

namespace {

CXMLDOMDocument Parse(const std::string& text) {
    CXMLDOMDocument doc;
    doc.Create(true);
    doc.SetAsync(false);
    EXPECT_TRUE(doc.LoadXML(text));
    return doc;
}

template <class F>
HRESULT ComError(F f) {
    try {
        f();
    } catch (const CComException& e) {
        return e.Error();
    }
    return S_OK;
}

template <class F>
HRESULT XmlError(F f) {
    try {
        f();
    } catch (const CXMLException& e) {
        return e.Error();
    }
    return S_OK;
}

TEST(XMLWrappers, SelectionResultsAndEmptyWrappers) {
    CXMLDOMDocument doc = Parse("<asx><entry><ref href=\"a.wmv\"/><title>T</title></entry></asx>");
    EXPECT_TRUE(doc.IsValid());
    EXPECT_TRUE(doc.IsFreeThreaded());

    CXMLDOMNode none = doc.SelectSingleNode("/asx/missing");
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(ComError([&] { none.SelectSingleNode("x"); }), E_POINTER);
    EXPECT_EQ(ComError([&] { none.SelectNodes("x"); }), E_POINTER);
    // Text of an empty node is the XML layer's own failure.
    EXPECT_EQ(XmlError([&] { none.GetText(); }), E_NOINTERFACE);

    CXMLDOMNodeList entries = doc.SelectNodes("/asx//entry");
    ASSERT_EQ(entries.GetLength(), 1);
    EXPECT_FALSE(entries.GetItem(1).IsValid());
    EXPECT_FALSE(entries.GetItem(-5).IsValid());

    CXMLDOMElement entry(entries.GetItem(0));
    ASSERT_TRUE(entry.IsValid());
    EXPECT_EQ(CXMLDOMNode(entry).SelectSingleNode("title").GetText(), "T");

    CXMLDOMElement ref(entry.SelectSingleNode("ref"));
    XmlVariant href = ref.GetAttribute("href");
    EXPECT_EQ(XMLVariantToString(href), "a.wmv");
    EXPECT_EQ(href.kind, XmlVariant::Kind::Empty);  // the conversion clears it
    XmlVariant absent = ref.GetAttribute("value");
    EXPECT_EQ(absent.kind, XmlVariant::Kind::Null);
    EXPECT_EQ(XMLVariantToString(absent), "");

    CXMLDOMAttribute attribute(entry.SelectSingleNode("ref/@href"));
    ASSERT_TRUE(attribute.IsValid());
    XmlVariant value = attribute.GetValue();
    EXPECT_EQ(XMLVariantToString(value), "a.wmv");
}

TEST(XMLWrappers, TypedViewsOfTheWrongKindAreNotValid) {
    CXMLDOMDocument doc = Parse("<asx a=\"1\">text</asx>");
    CXMLDOMElement fromAttribute(doc.SelectSingleNode("/asx/@a"));
    EXPECT_FALSE(fromAttribute.IsValid());
    EXPECT_EQ(ComError([&] { fromAttribute.GetAttribute("a"); }), E_POINTER);
    // It still holds the node itself.
    EXPECT_EQ(fromAttribute.GetText(), "1");

    CXMLDOMAttribute fromElement(doc.SelectSingleNode("/asx"));
    EXPECT_FALSE(fromElement.IsValid());
    EXPECT_EQ(ComError([&] { fromElement.GetValue(); }), E_POINTER);

    CXMLDOMDocument fromText(doc.SelectSingleNode("/asx/text()"));
    EXPECT_FALSE(fromText.IsValid());
    EXPECT_EQ(ComError([&] { fromText.LoadXML("<a/>"); }), E_POINTER);

    CXMLDOMDocument never;
    EXPECT_FALSE(never.IsValid());
    EXPECT_EQ(ComError([&] { never.Load("x.asx"); }), E_POINTER);
    CXSLTemplate noTemplate;
    EXPECT_EQ(ComError([&] { noTemplate.CreateProcessor(); }), E_POINTER);
    CXSLProcessor noProcessor;
    EXPECT_EQ(ComError([&] { noProcessor.Transform(); }), E_POINTER);
}

TEST(XMLWrappers, CopiesShareTheDocument) {
    CXMLDOMNode title;
    {
        CXMLDOMDocument doc = Parse("<asx><title>kept</title></asx>");
        CXMLDOMDocument copy = doc;
        title = copy.SelectSingleNode("//title");
        doc.Create(true);  // releases the first document for this wrapper only
        EXPECT_FALSE(doc.SelectSingleNode("//title").IsValid());
    }
    EXPECT_EQ(title.GetText(), "kept");
}

TEST(XMLWrappers, PlatformFailuresBecomeXmlExceptions) {
    CXMLDOMDocument doc = Parse("<asx/>");
    try {
        doc.SelectNodes("///");
        FAIL() << "no exception";
    } catch (const CXMLException& e) {
        EXPECT_EQ(e.Error(), E_FAIL);
        EXPECT_NE(e.GetErrorMessage().find("///"), std::string::npos);
    }
    EXPECT_FALSE(doc.LoadXML("<asx>"));
    EXPECT_FALSE(doc.GetParseError().empty());
}

TEST(XMLWrappers, ExceptionMessages) {
    char buffer[256];
    CXMLException plain(E_POINTER, nullptr);
    EXPECT_FALSE(plain.GetErrorMessage(buffer, 1));
    EXPECT_FALSE(plain.GetErrorMessage(nullptr, 100));
    ASSERT_TRUE(plain.GetErrorMessage(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "Invalid pointer");  // the system text without its line break

    CComPtr<IErrorInfo> info(new CErrorInfo("  \t described failure"));
    CXMLException described(E_FAIL, info);
    described.GetErrorMessage(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "described failure");
    described.GetErrorMessage(buffer, 5);
    EXPECT_STREQ(buffer, "desc");

    CComPtr<IErrorInfo> blank(new CErrorInfo("   "));
    CXMLException dispatch(static_cast<HRESULT>(0x80040205u + 0x1000u), blank);
    dispatch.GetErrorMessage(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "IDispatch error #4101");
    CXMLException unknown(static_cast<HRESULT>(0x8123ABCDu), nullptr);
    unknown.GetErrorMessage(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Unknown error 0x8123ABCD");
}

}  // namespace
