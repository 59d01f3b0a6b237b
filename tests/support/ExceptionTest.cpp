#include <gtest/gtest.h>

#include "resources/StringTable.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"

namespace {

std::string MessageOf(const CException& e) {
    return e.GetErrorMessage();
}

TEST(ComException, MediaTextThenCodeLine) {
    CComException e(VFW_E_NOT_FOUND, nullptr);
    EXPECT_EQ(MessageOf(e), "An object or name was not found.\r\nCode: 0x80040216");
}

TEST(ComException, SystemTextLosesItsLineBreak) {
    CComException e(E_FAIL, nullptr);
    EXPECT_EQ(MessageOf(e), "Unspecified error\r\nCode: 0x80004005");
}

TEST(ComException, DispatchErrorNumberForUnknownInterfaceCodes) {
    EXPECT_EQ(MessageOf(CComException(HR(0x80040201), nullptr)),
              "IDispatch error #1\r\nCode: 0x80040201");
    // 0x80040200 minus 0x200 has a zero low word: no dispatch number
    EXPECT_EQ(MessageOf(CComException(HR(0x80040200), nullptr)).substr(0, 24),
              "An invalid media type wa");
    EXPECT_EQ(MessageOf(CComException(HR(0x8004FFFF), nullptr)),
              "IDispatch error #65023\r\nCode: 0x8004FFFF");
    EXPECT_EQ(MessageOf(CComException(HR(0x80990001), nullptr)),
              "Unknown error 0x80990001\r\nCode: 0x80990001");
}

TEST(ComException, DescriptionIsAddedUnlessItRepeatsTheBaseText) {
    CComPtr<IErrorInfo> info(new CErrorInfo("  The stream is broken.  "));
    CComException withText(E_FAIL, info);
    EXPECT_EQ(MessageOf(withText),
              "Unspecified error\r\nThe stream is broken.\r\n\r\nCode: 0x80004005");

    CComPtr<IErrorInfo> same(new CErrorInfo("an OBJECT or name was not found."));
    EXPECT_EQ(MessageOf(CComException(VFW_E_NOT_FOUND, same)),
              "An object or name was not found.\r\nCode: 0x80040216");
    // a description that begins the base text counts as a repeat too
    CComPtr<IErrorInfo> prefix(new CErrorInfo("unspecified"));
    EXPECT_EQ(MessageOf(CComException(E_FAIL, prefix)), "Unspecified error\r\nCode: 0x80004005");
    CComPtr<IErrorInfo> blank(new CErrorInfo(" \t "));
    EXPECT_EQ(MessageOf(CComException(E_FAIL, blank)), "Unspecified error\r\nCode: 0x80004005");
}

TEST(ComException, SmallBuffers) {
    CComException e(HR(0x80990001), nullptr);
    char buf[64];
    EXPECT_FALSE(e.GetErrorMessage(buf, 1));
    EXPECT_FALSE(e.GetErrorMessage(buf, 31));  // no text of its own and too small for the fallback
    ASSERT_TRUE(e.GetErrorMessage(buf, 32));
    EXPECT_STREQ(buf, "Unknown error 0x80990001");  // the code line did not fit
    CComException known(E_FAIL, nullptr);
    ASSERT_TRUE(known.GetErrorMessage(buf, 8));
    EXPECT_STREQ(buf, "Unspeci");
}

TEST(ComException, ThrowHResultTakesTheThreadsErrorObject) {
    SetErrorDescription("The server said no.");
    try {
        ThrowHResult(E_ACCESSDENIED);
        FAIL();
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), E_ACCESSDENIED);
        EXPECT_EQ(e.Description(), "The server said no.");
    }
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
    try {
        CheckHResult(E_POINTER);
    } catch (const CException& e) {
        EXPECT_NE(std::string(e.what()).find("Invalid pointer"), std::string::npos);
    }
    EXPECT_EQ(CheckHResult(S_FALSE), S_FALSE);
}

TEST(MessageException, ThrowMessageFormatsTheString) {
    try {
        ThrowMessageArgs(AFX_IDP_FILE_NOT_FOUND, std::string("clip.avi"));
        FAIL();
    } catch (const CMessageException& e) {
        EXPECT_EQ(e.Text(), "The file \"clip.avi\" could not be found.");
        EXPECT_EQ(e.HelpContext(), AFX_IDP_FILE_NOT_FOUND);
        unsigned help = 0;
        EXPECT_EQ(e.GetErrorMessage(&help), e.Text());
        EXPECT_EQ(help, AFX_IDP_FILE_NOT_FOUND);
    }
    // a format naming a missing argument cannot be formatted
    EXPECT_THROW(ThrowMessage(AFX_IDP_FILE_NOT_FOUND), CMemoryException);
}

TEST(FileException, NotFoundNamesTheFile) {
    CFileException e(CFileException::fileNotFound, "/media/x.wmv");
    EXPECT_EQ(MessageOf(e), "The file \"/media/x.wmv\" could not be found.");
}

TEST(BuildErrorText, PrefixRules) {
    CMessageException e("Out of tape.", 0);
    EXPECT_EQ(BuildErrorText(e, 0), "Out of tape.");
    EXPECT_EQ(BuildErrorText(e, IDS_CONTROL_TYPE_NAME), "Velotrax Control\r\n\r\nOut of tape.");
    CMessageException same(LoadResString(IDS_CONTROL_TYPE_NAME), 0);
    EXPECT_EQ(BuildErrorText(same, IDS_CONTROL_TYPE_NAME), "Velotrax Control");
    CMessageException trailing("Text with space \r\n", 0);
    EXPECT_EQ(BuildErrorText(trailing, 0), "Text with space");
    EXPECT_EQ(BuildErrorText(CUserException(), IDS_CONTROL_TYPE_NAME), "");
    CMessageException empty("", 0);
    EXPECT_EQ(BuildErrorText(empty, IDS_CONTROL_TYPE_NAME), "Velotrax Control");
}

TEST(ReportException, ShowsTextWithIconAndNeverShowsUserExceptions) {
    vtest::CapturedMessages captured;
    ReportException(CUserException());
    EXPECT_TRUE(captured.Messages().empty());

    ReportException(CComException(VFW_E_NOT_FOUND, nullptr));
    ASSERT_EQ(captured.Messages().size(), 1u);
    EXPECT_EQ(captured.Messages()[0].text, "An object or name was not found.\r\nCode: 0x80040216");
    EXPECT_EQ(captured.Messages()[0].type, MB_ICONEXCLAMATION);

    ReportException(CMemoryException());
    EXPECT_EQ(captured.Messages()[1].type, MB_ICONEXCLAMATION | MB_SYSTEMMODAL);

    ReportException(CMessageException("", 0));  // nothing to say: the system's E_FAIL text
    EXPECT_EQ(captured.Messages()[2].text, "Unspecified error");

    ReportException(CMessageException("Bad tape.", 4711));
    EXPECT_EQ(captured.Messages()[3].helpId, 4711u);
}

TEST(ReportException, AHandlerThatThrowsDoesNotEscape) {
    auto previous = SetMessageBoxHandler([](const std::string&, unsigned, unsigned) -> int {
        throw CComException(E_FAIL, nullptr);
    });
    EXPECT_NO_THROW(ReportException(CMessageException("x", 0)));
    EXPECT_FALSE(ReportExceptions([] { throw std::runtime_error("boom"); }));
    SetMessageBoxHandler(previous);
}

TEST(ReportCurrentException, MapsForeignExceptions) {
    vtest::CapturedMessages captured;
    EXPECT_FALSE(ReportExceptions([] { throw std::runtime_error("boom"); }));
    EXPECT_FALSE(ReportExceptions([] { throw 42; }));
    EXPECT_TRUE(ReportExceptions([] {}));
    ASSERT_EQ(captured.Messages().size(), 2u);
    EXPECT_EQ(captured.Messages()[0].text, "boom");
    EXPECT_EQ(captured.Messages()[1].text, "Catastrophic failure\r\nCode: 0x8000FFFF");
}

TEST(ComException, ReportErrorWithoutTextReturnsAbort) {
    vtest::CapturedMessages captured;
    CComException e(HR(0x80990001), nullptr);
    EXPECT_EQ(e.ReportError(), IDOK);
    CMessageException empty("", 0);
    EXPECT_EQ(empty.ReportError(), IDABORT);
    EXPECT_EQ(empty.ReportError(MB_OK, IDS_CONTROL_TYPE_NAME), IDOK);
    ASSERT_EQ(captured.Messages().size(), 2u);
    EXPECT_EQ(captured.Messages()[1].text, "Velotrax Control");
}

}  // namespace
