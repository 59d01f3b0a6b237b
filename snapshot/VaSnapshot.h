#pragma once
// CVaSnapshot: saves the frame the video window shows as a BMP or JPEG
// file. It picks the file name (automatically numbered, or through the
// snapshot file dialog), gets the frame from the play context and writes
// it. It also prepares every captured frame as a still picture (line
// averaging of interlaced frames and the aspect stretch) for the play
// context. One object per video panel; the owner registers the option
// names the object reads and writes.
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

class CAppOptions;
class CPlayCtx;

class CVaSnapshotOptions {
public:
    // Where one option lives in the option store.
    struct COptionName {
        std::string section;
        std::string key;
    };
};

class CVaSnapshot {
public:
    enum EOption : int {
        optDir = 0,           // folder of the last snapshot chosen in the dialog
        optAutoFile = 1,      // name files automatically instead of asking
        optFileExt = 2,       // extension of the last file type chosen
        optFileExtImg = 3,    // extension of the last still-image type (written only)
        optImgQuality = 5,    // JPEG quality 0..100
        optImgRangeDist = 6,  // registered, not read here
        optImgRangeDistUnit = 7,
    };
    enum EFileType : int { typeNone = 0, typeBmp = 1, typeJpg = 2 };

    // The numbering the writer and its dialog use: bracketed counters of
    // at least three digits, "Clip (002)".
    static constexpr int kNumberingFlags = 0x21;
    static constexpr int kDefaultQuality = 30;

    // 'options' null: the process-wide option store.
    explicit CVaSnapshot(CAppOptions* options = nullptr);
    CVaSnapshot(const CVaSnapshot&) = delete;
    CVaSnapshot& operator=(const CVaSnapshot&) = delete;
    virtual ~CVaSnapshot();

    void SetOptionName(EOption kind, const std::string& section, const std::string& key);

    // Chooses the file, takes the frame from 'ctx' and writes it; returns
    // the type written, or typeNone when the user cancelled the dialog.
    // 'sourceName' is the media file's path (for a URL its last path
    // segment, decoded, see SourceNameForMedia). Automatic naming goes on
    // from the last generated path for the life of the object, also after
    // another video was opened.
    int SaveSnapshot(CPlayCtx* ctx, const std::string& sourceName);
    // The path and type of the last still image (dialog or automatic naming).
    const std::string& GetLastImagePath() const { return m_lastImagePath; }
    int GetLastImageType() const { return m_lastImageType; }

    // ---- the still picture
    // The packed DIB 'dib' (header, colour table or masks, pixels) as a
    // picture: with 'interlaced' every even memory row from 2 on becomes the
    // average of its neighbours (or a copy of the row above where no routine
    // fits the format); when aspectX:aspectY asks for a width more than a
    // fifth away from the frame's, the picture is stretched to it. 24-bit
    // frames give QImage::Format_BGR888, all others Format_RGB32. Null when
    // the DIB cannot be read.
    static QImage PrepareStillImage(const uint8_t* dib, size_t size, long aspectX, long aspectY,
                                    bool interlaced);
    // The frame as delivered, without preparation (same formats as above).
    static QImage DibToImage(const uint8_t* dib, size_t size);

    // ---- file types
    // "bmp" → 1, "jpg" → 2 (leading dots dropped, any case), else 0.
    static int FileTypeFromExtension(std::string extension);
    // 1 → "bmp", 2 → "jpg", else "".
    static std::string ExtensionFromFileType(int type);

    // ---- file names
    // The source name for a media name: a URL's last path segment with its
    // escapes decoded, any other name unchanged.
    static std::string SourceNameForMedia(const std::string& media);
    // Removes leading and trailing white space and the characters \ / : * ?
    // " < > | backspace, CR and LF; true when something remains.
    static bool MakeValidFileName(std::string& name);
    // Counts a name on: "Clip (002)" → "Clip (003)", "Clip" → "Clip (002)"
    // with flags 0x21. Low four bits set: only bracketed counters count;
    // 0x10 / 0x20: at least two / three digits.
    static std::string IncrementNumberedName(const std::string& name, int flags);
    // Removes a counter (with the white space before it) from a name.
    static std::string StripNumberedName(const std::string& name, int flags);
    // Counts the path's file title on until no file of the folder with the
    // same extension has that title (letter case ignored).
    static std::string MakeUniqueFileName(const std::string& path, int flags);

protected:
    struct CChoice {
        std::string path;
        int type = typeBmp;
    };
    // The frame shown now, prepared as a still picture; null when there is none.
    virtual QImage GetCurrentImageBitmap(CPlayCtx* ctx) = 0;
    // Whether SHIFT is held down now (it forces the dialog).
    virtual bool IsShiftDown() const;
    // Shows the snapshot file dialog; false when the user cancelled.
    virtual bool ShowFileDialog(const std::string& initialPath, int initialType,
                                const std::string& initialFolder, CChoice& choice);

    std::optional<CChoice> ChooseFile(const std::string& sourceName);
    void TakeSnapshot(CPlayCtx* ctx, const std::string& path, int type);

    bool HasOption(EOption kind) const { return m_optionNames.count(kind) != 0; }
    std::string ReadString(EOption kind) const;
    bool ReadBool(EOption kind) const;
    int ReadInt(EOption kind, int def) const;
    void WriteString(EOption kind, const std::string& value);

private:
    CAppOptions& Options() const;

    CAppOptions* m_options;
    std::map<EOption, CVaSnapshotOptions::COptionName> m_optionNames;
    std::string m_lastPath;
    int m_lastType = typeBmp;
    std::string m_lastImagePath;
    int m_lastImageType = typeBmp;
};

// The writer the video panel owns: the frame comes from the play context.
class CVaSnapshotExt : public CVaSnapshot {
public:
    using CVaSnapshot::CVaSnapshot;
    ~CVaSnapshotExt() override;

protected:
    QImage GetCurrentImageBitmap(CPlayCtx* ctx) override;
};
