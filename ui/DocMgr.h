#pragma once
// CDocMgr: file-name routines that number names. A name gets the number 2 in
// parentheses, then 3, and so on: Snapshot -> Snapshot (2) -> Snapshot (3),
// Take [09] -> Take [10], Clip7 -> Clip8.
//
// Flags: 0x10 asks for at least two digits, 0x20 for at least three; any of
// the low four bits forbids a bare trailing number (only bracketed numbers
// count then).
#include <string>
#include <vector>

class CDocMgr {
public:
    static constexpr unsigned kTwoDigits = 0x10;
    static constexpr unsigned kThreeDigits = 0x20;
    static constexpr unsigned kNoBareNumber = 0x01;

    // Removes leading white space, the characters \ / : * ? " < > | and
    // backspace, carriage return, line feed, and trailing white space.
    // True when something remains.
    static bool MakeValidFileName(std::string& name);
    static void IncrementNumber(std::string& name, unsigned flags = 0);
    static void IncrementNumberInPath(std::string& path, unsigned flags = 0);
    static void StripNumber(std::string& name, unsigned flags = 0);
    static void StripNumberInPath(std::string& path, unsigned flags = 0);
    // Numbers the name up while it equals an entry of 'names', at most as
    // many times as the list has entries. True when the name changed.
    static bool MakeUnique(std::string& name, const std::vector<std::string>& names,
                           bool ignoreCase, unsigned flags = 0);
    // The same against the files present in the path's folder.
    static bool MakeUniqueInFolder(std::string& path, bool ignoreCase, unsigned flags = 0);
};
