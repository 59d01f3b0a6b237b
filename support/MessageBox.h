#pragma once
// The one reporter of the system: AfxMessageBox shows a message box in a
// GUI process and writes to standard error in a console process (and in
// tests). A host or test may install its own handler.
#include <functional>
#include <string>

constexpr unsigned MB_OK = 0x00000000;
constexpr unsigned MB_OKCANCEL = 0x00000001;
constexpr unsigned MB_YESNO = 0x00000004;
constexpr unsigned MB_ICONHAND = 0x00000010;
constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x00000020;
constexpr unsigned MB_ICONEXCLAMATION = 0x00000030;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONINFORMATION = 0x00000040;
constexpr unsigned MB_SYSTEMMODAL = 0x00001000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler =
    std::function<int(const std::string& text, unsigned type, unsigned helpId)>;

// Installs a handler and returns the previous one (empty: the default).
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

int AfxMessageBox(const std::string& text, unsigned type = MB_OK, unsigned helpId = 0);
// Shows the string resource 'stringId'.
int AfxMessageBox(unsigned stringId, unsigned type = MB_OK, unsigned helpId = unsigned(-1));
