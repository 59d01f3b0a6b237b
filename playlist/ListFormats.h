#pragma once
// The playlists people keep besides ASX: M3U/M3U8, PLS and XSPF. Each is
// read into the same clips as an ASX playlist (title, duration where the
// list gives one, the reference resolved against the list's folder or URL).
#include <string>
#include <vector>

#include "playlist/PlayList.h"

class CListFormats {
public:
    enum class EFormat { asx, m3u, m3u8, pls, xspf };

    // The format a playlist's name says (its extension); asx for anything else.
    static EFormat FormatOfName(const std::string& name);
    // True for the extensions of every playlist format (asx, wvx, m3u, m3u8, pls, xspf).
    static bool IsPlayListExtension(const std::string& lowerCaseExtension);

    // The playlist format a served content type names (parameters such as
    // "; charset=..." ignored, any case); false for every other type.
    // video/x-ms-asf names ASX only when 'body' starts as XML does (the
    // same type serves ASF media).
    static bool FormatOfContentType(const std::string& contentType, const std::string& body,
                                    EFormat& format);
    // Whether M3U text is an HLS stream playlist (media or master list):
    // a stream for the media graph, not a list of files.
    static bool IsHlsPlaylist(const std::string& text);
    // Fetches an http or https URL when what it serves is a playlist by its
    // content type: true with the format and the text. False after the
    // response headers for anything else, and when it cannot be fetched.
    static bool FetchPlayList(const std::string& url, EFormat& format, std::string& text);

    // What opening a name means: a playlist (by its extension, or for an
    // http or https URL without a playlist extension by the served content
    // type) or media. HLS stream playlists are media.
    struct COpenProbe {
        bool isPlayList = false;
        bool fetched = false;  // 'text' holds the list, read once already
        EFormat format = EFormat::asx;
        std::string text;
    };
    static COpenProbe Probe(const std::string& name);
    // Loads the playlist a probe found (the body of opening a playlist).
    static void Load(CPlayList& list, COpenProbe probe, const std::string& name,
                     const std::string& baseFolder);
    // Loads the text of a list of the given format; references are read
    // against baseFolder.
    static void LoadText(CPlayList& list, EFormat format, std::string text,
                         const std::string& baseFolder);

    // Whether text is well-formed UTF-8.
    static bool IsUtf8(const std::string& text);
    // Windows-1252, the code page old players wrote their lists in, to UTF-8.
    static std::string FromWindows1252(const std::string& text);

    // One entry as a list gives it.
    struct CEntry {
        std::string reference;
        std::string title;
        REFERENCE_TIME duration = -1;  // -1: not given
    };
    // The entries of a list's text; HRESULT_BAD_FORMAT with the reason when
    // the text is not such a list.
    static std::vector<CEntry> ReadM3u(std::string text, bool utf8);
    static std::vector<CEntry> ReadPls(std::string text);
    static std::vector<CEntry> ReadXspf(const std::string& text);

    // Loads a list of the given format from a path or URL into 'list' (the
    // body of CPlayList::LoadFile for these formats).
    static void LoadFile(CPlayList& list, EFormat format, const std::string& path,
                         const std::string& baseFolder);
    // Clears the list, appends a clip per entry and selects the first clip.
    static void Fill(CPlayList& list, const std::vector<CEntry>& entries);
};
