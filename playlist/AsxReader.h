#pragma once
// Reads ASX and WVX playlists into the clips of a playlist: loads the
// document, folds element and attribute names to lower case with a fixed
// stylesheet, selects the entries and makes one clip per usable entry.
#include <memory>
#include <string>

#include "playlist/PlayList.h"
#include "playlist/XMLDOMDocument.h"

class CAsxReader {
public:
    // The body of CPlayList::LoadFile: the base folder is baseFolder, or the
    // folder of 'path' when baseFolder is empty.
    static void LoadFile(CPlayList& list, const std::string& path, const std::string& baseFolder);
    // The body of CPlayList::LoadXml: the base folder is baseFolder as given.
    static void LoadXml(CPlayList& list, const std::string& text, const std::string& baseFolder);

    // [[hours:]minutes:]seconds[.fraction] in 100-ns units; an empty text is 0.
    static REFERENCE_TIME ParseClipTime(const std::string& text);
    // The path a reference names when read against a base folder. URLs and
    // full paths (with a drive letter or a server) are returned unchanged;
    // '\' and '/' both separate folders.
    static std::string ResolveReference(const std::string& baseFolder,
                                        const std::string& reference);
    // A clip of 'file' from an entry element (names already in lower case).
    static std::unique_ptr<CPlayList::CClip> MakeClip(CPlayList::CClipFile* file,
                                                      const CXMLDOMNode& entry);
    // Folds every element and attribute name of a playlist document to lower
    // case, in place (see XmlFoldNames).
    static void FoldNames(CXMLDOMDocument& document);
    // The same through an XSLT stylesheet, as names were folded before:
    // kept to compare both (fuzz_asx_fold, bench_asx_load).
    static CXMLDOMDocument FoldNamesWithStylesheet(const CXMLDOMDocument& document);
    // Makes every later load in the process fold with the stylesheet.
    static void SetFoldWithStylesheet(bool stylesheet);
    // The folder part of a path: everything before its last '\' or '/'.
    static std::string FolderOf(const std::string& path);

    // Whether a document's XML declaration names an encoding.
    static bool HasEncodingDeclaration(const std::string& text);
    // The text with every '&' that starts no character or entity reference
    // written as "&amp;" (comments, CDATA sections and processing
    // instructions stay as they are).
    static std::string EscapeBareAmpersands(const std::string& text);

private:
    // The second reading of a playlist the XML parser refused, as other
    // players read such files: without an encoding declaration text that
    // is not UTF-8 is Windows-1252, bare '&' are escaped and elements left
    // open are closed. Fills the list and returns true when that gives at
    // least one entry; otherwise leaves the list as it was.
    static bool LoadLenient(CPlayList& list, std::string text, bool utf8Text,
                            const std::string& baseFolder);
    // Whether a folded document has an entry with a media reference.
    static bool HasUsableEntry(const CXMLDOMDocument& document);
    // Fills the list from a folded document.
    static void Parse(CPlayList& list, const CXMLDOMDocument& document);
};
