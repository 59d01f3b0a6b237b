// Hostile documents end in a clear failure: nothing is read from the local
// file system or the network on a document's behalf, and nothing grows
// without bound.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/com/ErrorInfo.h"
#include "platform/xml/XmlDom.h"
#include "tests/TestSupport.h"

namespace {

const char* kSecret = "SECRET-7f3a9c-should-never-be-read";

struct LoadResult {
    bool loaded = false;
    std::string reason;
    std::string text;  // the whole document's text when loaded
    std::string xml;
};

LoadResult LoadText(const std::string& text) {
    CComPtr<IXMLDOMDocument> doc;
    XmlCreateDocument(true, &doc);
    LoadResult r;
    doc->loadXML(text, &r.loaded);
    doc->get_parseError(&r.reason);
    if (r.loaded) {
        doc->get_text(&r.text);
        doc->get_xml(&r.xml);
    }
    return r;
}

LoadResult LoadSource(const std::string& source) {
    CComPtr<IXMLDOMDocument> doc;
    XmlCreateDocument(true, &doc);
    LoadResult r;
    doc->load(source, &r.loaded);
    doc->get_parseError(&r.reason);
    if (r.loaded)
        doc->get_text(&r.text);
    return r;
}

std::string BillionLaughs() {
    std::string dtd = "<!ENTITY lol0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        dtd += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            dtd += "&lol" + std::to_string(i - 1) + ";";
        dtd += "\">";
    }
    return "<?xml version=\"1.0\"?><!DOCTYPE asx [" + dtd +
           "]><asx><entry><title>&lol9;</title><ref href=\"&lol9;\"/></entry></asx>";
}

TEST(HostileXml, BillionLaughsIsRefused) {
    LoadResult r = LoadText(BillionLaughs());
    EXPECT_FALSE(r.loaded);
    EXPECT_NE(r.reason.find("entity"), std::string::npos) << r.reason;
}

TEST(HostileXml, ExternalEntitiesNeverReadLocalFiles) {
    vtest::TempDir dir;
    std::string secret = dir.File("secret.txt");
    vtest::WriteFile(secret, kSecret);
    std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE asx [<!ENTITY xxe SYSTEM \"file://" +
                      secret + "\"><!ENTITY plain SYSTEM \"" + secret +
                      "\">]><asx><entry><title>&xxe;&plain;</title>"
                      "<ref href=\"a.wmv\"/></entry></asx>";
    LoadResult r = LoadText(doc);
    // Whether the parser keeps the document or not, the file stays unread.
    EXPECT_EQ(r.text.find(kSecret), std::string::npos);
    EXPECT_EQ(r.xml.find(kSecret), std::string::npos);

    // The same through a parameter entity and an external DTD.
    std::string dtd = dir.File("evil.dtd");
    vtest::WriteFile(dtd, "<!ENTITY leak SYSTEM \"file://" + secret + "\">");
    r = LoadText("<?xml version=\"1.0\"?><!DOCTYPE asx SYSTEM \"file://" + dtd +
                 "\"><asx><title>&leak;</title></asx>");
    EXPECT_EQ(r.text.find(kSecret), std::string::npos);
    r = LoadText("<?xml version=\"1.0\"?><!DOCTYPE asx [<!ENTITY % p SYSTEM \"file://" + dtd +
                 "\"> %p;]><asx><title>&leak;</title></asx>");
    EXPECT_EQ(r.text.find(kSecret), std::string::npos);
    EXPECT_EQ(r.xml.find(kSecret), std::string::npos);
}

TEST(HostileXml, StylesheetsCannotReadFiles) {
    vtest::TempDir dir;
    std::string secret = dir.File("secret.xml");
    vtest::WriteFile(secret, std::string("<s>") + kSecret + "</s>");
    CComPtr<IXMLDOMDocument> style;
    XmlCreateDocument(true, &style);
    bool loaded = false;
    style->loadXML(
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><out><xsl:value-of select=\"document('file://" +
            secret + "')\"/></out></xsl:template></xsl:stylesheet>",
        &loaded);
    ASSERT_TRUE(loaded);
    CComPtr<IXSLTemplate> xslt;
    XmlCreateTemplate(&xslt);
    ASSERT_EQ(xslt->putref_stylesheet(style), S_OK);
    CComPtr<IXSLProcessor> processor;
    xslt->createProcessor(&processor);
    CComPtr<IXMLDOMDocument> input, output;
    XmlCreateDocument(true, &input);
    XmlCreateDocument(true, &output);
    input->loadXML("<asx/>", &loaded);
    processor->put_input(input);
    processor->put_output(output);
    bool done = true;
    EXPECT_TRUE(SUCCEEDED(processor->transform(&done)));
    std::string text;
    output->get_text(&text);
    EXPECT_EQ(text.find(kSecret), std::string::npos);
}

TEST(HostileXml, HugeFilesAreRefusedBeforeReading) {
    vtest::TempDir dir;
    std::string path = dir.File("huge.asx");
    vtest::WriteFile(path, "<asx>");
    // 100 MB without writing 100 MB: the file is sparse.
    ASSERT_EQ(::truncate(path.c_str(), 100LL * 1024 * 1024), 0);
    LoadResult r = LoadSource(path);
    EXPECT_FALSE(r.loaded);
    EXPECT_NE(r.reason.find("larger than the limit"), std::string::npos) << r.reason;
}

TEST(HostileXml, DevicesAndPipesAreRefusedAtOnce) {
    // A device may never end and a pipe without a writer never opens:
    // neither is read, and nothing waits.
    vtest::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const std::string& source : {std::string("/dev/zero"), dir.File("fifo")}) {
        LoadResult r = LoadSource(source);
        EXPECT_FALSE(r.loaded);
        EXPECT_NE(r.reason.find("not a regular file"), std::string::npos) << r.reason;
    }
}

TEST(HostileXml, HugeTextIsRefused) {
    std::string text = "<asx>" + std::string(kMaxXmlDocumentSize, ' ') + "</asx>";
    LoadResult r = LoadText(text);
    EXPECT_FALSE(r.loaded);
    EXPECT_NE(r.reason.find("larger than the limit"), std::string::npos);
}

TEST(HostileXml, QuadraticExpansionStaysBounded) {
    // One modest entity referenced very often: the parser may accept it, but
    // its text never grows past the document limit.
    std::string doc = "<!DOCTYPE asx [<!ENTITY a \"" + std::string(20000, 'a') + "\">]><asx><t>";
    for (int i = 0; i < 20000; ++i)
        doc += "&a;";
    doc += "</t></asx>";
    CComPtr<IXMLDOMDocument> xml;
    XmlCreateDocument(true, &xml);
    bool loaded = false;
    xml->loadXML(doc, &loaded);
    if (loaded) {
        std::string text;
        HRESULT hr = xml->get_text(&text);
        EXPECT_TRUE(FAILED(hr) || text.size() <= kMaxXmlDocumentSize);
    }
}

TEST(HostileXml, GarbageTruncationAndDepthFailCleanly) {
    std::string garbage;
    uint32_t seed = 12345;
    for (int i = 0; i < 4096; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage += static_cast<char>(seed >> 24);
    }
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    const std::string cases[] = {
        garbage,
        std::string("\0\0\0\0<asx/>", 10),
        "<asx><entry><ref href=\"a.wmv\"/></entry",
        "<asx><entry><ref href=\"a.wmv",
        "<?xml version=\"1.0\"?>",
        "",
        deep,
        "<asx>&undefined;</asx>",
    };
    for (const std::string& text : cases) {
        LoadResult r = LoadText(text);
        EXPECT_FALSE(r.loaded) << text.substr(0, 40);
        EXPECT_FALSE(r.reason.empty());
    }
}

}  // namespace

namespace {

TEST(HostileXml, StylesheetsCannotImportFiles) {
    vtest::TempDir dir;
    std::string imported = dir.File("imported.xsl");
    vtest::WriteFile(imported,
                     "<xsl:stylesheet version=\"1.0\" "
                     "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                     "<xsl:template match=\"/\"><leak/></xsl:template></xsl:stylesheet>");
    CComPtr<IXMLDOMDocument> style;
    XmlCreateDocument(true, &style);
    bool loaded = false;
    style->loadXML(
        "<xsl:stylesheet version=\"1.0\" "
        "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:import href=\"file://" +
            imported + "\"/></xsl:stylesheet>",
        &loaded);
    ASSERT_TRUE(loaded);
    CComPtr<IXSLTemplate> xslt;
    XmlCreateTemplate(&xslt);
    EXPECT_EQ(xslt->putref_stylesheet(style), E_FAIL);
    CComPtr<IErrorInfo> info;
    std::string description;
    if (GetErrorInfo(0, &info) == S_OK && info)
        info->GetDescription(&description);
    EXPECT_NE(description.find("denied"), std::string::npos) << description;
}

}  // namespace
