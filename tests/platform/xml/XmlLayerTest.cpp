// The XML services: loading, XPath selection, text and attributes, and
// transformations, seen through their interfaces.
#include <gtest/gtest.h>

#include "LoopbackHttpServer.h"
#include "platform/com/ErrorInfo.h"
#include "platform/xml/XmlDom.h"
#include "tests/TestSupport.h"

namespace {

CComPtr<IXMLDOMDocument> NewDocument() {
    CComPtr<IXMLDOMDocument> doc;
    EXPECT_EQ(XmlCreateDocument(true, &doc), S_OK);
    return doc;
}

CComPtr<IXMLDOMDocument> Parse(const std::string& text) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    bool loaded = false;
    doc->loadXML(text, &loaded);
    EXPECT_TRUE(loaded) << text;
    return doc;
}

std::string TakeErrorDescription() {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return {};
    std::string text;
    info->GetDescription(&text);
    return text;
}

std::string Text(IXMLDOMNode* node) {
    std::string text;
    EXPECT_EQ(node->get_text(&text), S_OK);
    return text;
}

const char* kList =
    "<asx version=\"3.0\">\n"
    "  <entry><title> First </title><ref href=\"a.wmv\"/></entry>\n"
    "  <repeat><entry><ref href=\"b.wmv\"/></entry></repeat>\n"
    "  <entry><title>Th<b>ir</b>d &amp; last</title><ref href=\"c.wmv\"/></entry>\n"
    "</asx>";

TEST(XmlLayer, SelectsNodesInDocumentOrder) {
    auto doc = Parse(kList);
    CComPtr<IXMLDOMNodeList> list;
    ASSERT_EQ(doc->selectNodes("/asx//entry/ref/@href", &list), S_OK);
    long length = 0;
    list->get_length(&length);
    ASSERT_EQ(length, 3);
    const char* expected[] = {"a.wmv", "b.wmv", "c.wmv"};
    for (long i = 0; i < 3; ++i) {
        CComPtr<IXMLDOMNode> node;
        ASSERT_EQ(list->get_item(i, &node), S_OK);
        CComPtr<IXMLDOMAttribute> attribute(node);
        ASSERT_TRUE(attribute);
        XmlVariant value;
        attribute->get_value(&value);
        EXPECT_EQ(value.kind, XmlVariant::Kind::String);
        EXPECT_EQ(value.str, expected[i]);
    }
    CComPtr<IXMLDOMNode> past;
    EXPECT_EQ(list->get_item(3, &past), S_FALSE);
    EXPECT_FALSE(past);
    EXPECT_EQ(list->get_item(-1, &past), S_FALSE);
}

TEST(XmlLayer, SingleNodeTextAndAttributes) {
    auto doc = Parse(kList);
    CComPtr<IXMLDOMNode> none;
    EXPECT_EQ(doc->selectSingleNode("/asx/nothing", &none), S_FALSE);
    EXPECT_FALSE(none);

    CComPtr<IXMLDOMNode> entry;
    ASSERT_EQ(doc->selectSingleNode("/asx/entry[2]", &entry), S_OK);
    CComPtr<IXMLDOMNode> title;
    ASSERT_EQ(entry->selectSingleNode("title", &title), S_OK);
    EXPECT_EQ(Text(title), "Third & last");  // descendants' text, ends trimmed

    CComPtr<IXMLDOMNode> first;
    ASSERT_EQ(doc->selectSingleNode("//title", &first), S_OK);
    EXPECT_EQ(Text(first), "First");

    CComPtr<IXMLDOMNode> ref;
    ASSERT_EQ(entry->selectSingleNode("ref", &ref), S_OK);
    CComPtr<IXMLDOMElement> element(ref);
    ASSERT_TRUE(element);
    XmlVariant value;
    EXPECT_EQ(element->getAttribute("href", &value), S_OK);
    EXPECT_EQ(value.str, "c.wmv");
    EXPECT_EQ(element->getAttribute("missing", &value), S_FALSE);
    EXPECT_EQ(value.kind, XmlVariant::Kind::Null);

    // A text node is neither element nor attribute.
    CComPtr<IXMLDOMNode> text;
    ASSERT_EQ(doc->selectSingleNode("//title/text()", &text), S_OK);
    EXPECT_FALSE(CComPtr<IXMLDOMElement>(text));
    EXPECT_FALSE(CComPtr<IXMLDOMAttribute>(text));
    XmlNodeType type = NODE_INVALID;
    text->get_nodeType(&type);
    EXPECT_EQ(type, NODE_TEXT);
}

TEST(XmlLayer, BadExpressionsFailWithADescription) {
    auto doc = Parse(kList);
    CComPtr<IXMLDOMNodeList> list;
    EXPECT_EQ(doc->selectNodes("/asx//[", &list), E_FAIL);
    EXPECT_FALSE(list);
    EXPECT_NE(TakeErrorDescription().find("/asx//["), std::string::npos);
    CComPtr<IXMLDOMNode> node;
    EXPECT_EQ(doc->selectSingleNode("count(//entry)", &node), E_FAIL);
    EXPECT_NE(TakeErrorDescription().find("does not select nodes"), std::string::npos);
}

TEST(XmlLayer, NodesOutliveTheirDocumentsContent) {
    auto doc = Parse(kList);
    CComPtr<IXMLDOMNode> title;
    ASSERT_EQ(doc->selectSingleNode("//title", &title), S_OK);
    bool loaded = true;
    doc->loadXML("<other/>", &loaded);
    ASSERT_TRUE(loaded);
    doc.Release();
    EXPECT_EQ(Text(title), "First");
}

TEST(XmlLayer, LoadsFromPathsAndFileUrls) {
    vtest::TempDir dir;
    std::string path = dir.File("my list.asx");
    vtest::WriteFile(path, kList);
    for (const std::string& source : {path, "file://" + dir.Path() + "/my%20list.asx",
                                      "file://localhost" + dir.Path() + "/my list.asx"}) {
        auto doc = NewDocument();
        bool loaded = false;
        EXPECT_EQ(doc->load(source, &loaded), S_OK) << source;
        EXPECT_TRUE(loaded) << source;
        CComPtr<IXMLDOMNodeList> list;
        doc->selectNodes("//entry", &list);
        long length = 0;
        list->get_length(&length);
        EXPECT_EQ(length, 3);
    }
}

TEST(XmlLayer, FailedLoadsReturnFalseWithAReason) {
    vtest::TempDir dir;
    struct Case {
        std::string source;
        std::string reasonPart;
    } cases[] = {
        {dir.File("missing.asx"), "missing.asx"},
        {dir.Path(), "folder"},
        {"file://otherhost/list.asx", "local file"},
        {"mms://example.invalid/list.asx", "cannot be loaded"},
        {"", "No document"},
    };
    for (const Case& c : cases) {
        auto doc = NewDocument();
        bool loaded = true;
        EXPECT_EQ(doc->load(c.source, &loaded), S_FALSE) << c.source;
        EXPECT_FALSE(loaded);
        std::string reason;
        doc->get_parseError(&reason);
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
        CComPtr<IXMLDOMElement> root;
        EXPECT_EQ(doc->get_documentElement(&root), S_FALSE);
    }
}

TEST(XmlLayer, LoadsOverHttpFromALoopbackServer) {
    vtest::CLoopbackHttpServer server;
    ASSERT_TRUE(server.Started());
    server.Serve("/list.asx", kList);
    server.ServeLarge("/huge.asx", kMaxXmlDocumentSize + 1024 * 1024);

    auto doc = NewDocument();
    bool loaded = false;
    doc->load(server.BaseUrl() + "/list.asx", &loaded);
    ASSERT_TRUE(loaded);
    CComPtr<IXMLDOMNode> ref;
    EXPECT_EQ(doc->selectSingleNode("//entry[last()]/ref/@href", &ref), S_OK);

    doc->load(server.BaseUrl() + "/nothing.asx", &loaded);
    EXPECT_FALSE(loaded);
    std::string reason;
    doc->get_parseError(&reason);
    EXPECT_NE(reason.find("404"), std::string::npos) << reason;

    doc->load(server.BaseUrl() + "/huge.asx", &loaded);
    EXPECT_FALSE(loaded);
    doc->get_parseError(&reason);
    EXPECT_NE(reason.find("larger than the limit"), std::string::npos) << reason;
}

TEST(XmlLayer, TransformsIntoTheOutputDocument) {
    auto style = Parse(
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><out><xsl:value-of select=\"count(//entry)\"/></out>"
        "</xsl:template></xsl:stylesheet>");
    CComPtr<IXSLTemplate> xslt;
    ASSERT_EQ(XmlCreateTemplate(&xslt), S_OK);
    CComPtr<IXSLProcessor> processor;
    EXPECT_EQ(xslt->createProcessor(&processor), E_UNEXPECTED);
    ASSERT_EQ(xslt->putref_stylesheet(style), S_OK);
    ASSERT_EQ(xslt->createProcessor(&processor), S_OK);
    bool done = true;
    EXPECT_EQ(processor->transform(&done), E_UNEXPECTED);  // no input yet

    auto input = Parse(kList);
    auto output = NewDocument();
    ASSERT_EQ(processor->put_input(input), S_OK);
    ASSERT_EQ(processor->put_output(output), S_OK);
    ASSERT_EQ(processor->transform(&done), S_OK);
    EXPECT_TRUE(done);
    CComPtr<IXMLDOMNode> out;
    ASSERT_EQ(output->selectSingleNode("/out", &out), S_OK);
    EXPECT_EQ(Text(out), "3");

    // An element is transformed as a document of its own.
    CComPtr<IXMLDOMNode> repeat;
    input->selectSingleNode("//repeat", &repeat);
    ASSERT_EQ(processor->put_input(repeat), S_OK);
    ASSERT_EQ(processor->transform(&done), S_OK);
    out.Release();
    output->selectSingleNode("/out", &out);
    EXPECT_EQ(Text(out), "1");
}

TEST(XmlLayer, RejectsBrokenStylesheets) {
    auto style = Parse(
        "<xsl:stylesheet version=\"1.0\" "
        "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"[\"/></xsl:stylesheet>");
    CComPtr<IXSLTemplate> xslt;
    XmlCreateTemplate(&xslt);
    EXPECT_EQ(xslt->putref_stylesheet(style), E_FAIL);
    EXPECT_NE(TakeErrorDescription().find("not valid"), std::string::npos);
}

}  // namespace
