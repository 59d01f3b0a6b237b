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
    // The playlist document with every element and attribute name in lower case.
    static CXMLDOMDocument FoldNames(const CXMLDOMDocument& document);
    // The folder part of a path: everything before its last '\' or '/'.
    static std::string FolderOf(const std::string& path);

private:
    static void Parse(CPlayList& list, const CXMLDOMDocument& document);
};
