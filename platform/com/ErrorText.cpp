#include "platform/com/ErrorText.h"

#include <algorithm>
#include <iterator>

#include "platform/com/Language.h"

namespace {

struct Text {
    HRESULT hr;
    const char* english;
    const char* german;
};

// The media framework's texts.
constexpr Text kMediaTexts[] = {
    {VFW_E_INVALIDMEDIATYPE, "An invalid media type was specified.",
     "Es wurde ein ungültiger Medientyp angegeben."},
    // VFW_E_INVALIDSUBTYPE has no text of its own: it reads as "IDispatch error #1".
    {VFW_E_NEED_OWNER, "This object can only be created as an aggregated object.",
     "Dieses Objekt kann nur als aggregiertes Objekt erstellt werden."},
    {VFW_E_ENUM_OUT_OF_SYNC,
     "The state of the enumerated object has changed and is now inconsistent with the state of the "
     "enumerator. Discard any data obtained from previous calls to the enumerator and then update "
     "the enumerator by calling the enumerator's Reset method.",
     "Der Zustand des aufgezählten Objekts hat sich geändert und passt nicht mehr zum Aufzähler. "
     "Verwerfen Sie die bisher erhaltenen Daten und setzen Sie den Aufzähler zurück."},
    {VFW_E_ALREADY_CONNECTED,
     "At least one of the pins involved in the operation is already connected.",
     "Mindestens einer der beteiligten Pins ist bereits verbunden."},
    {VFW_E_FILTER_ACTIVE, "This operation cannot be performed because the filter is active.",
     "Der Vorgang ist nicht möglich, weil der Filter aktiv ist."},
    {VFW_E_NO_TYPES, "One of the specified pins supports no media types.",
     "Einer der angegebenen Pins unterstützt keine Medientypen."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins.",
     "Diese Pins haben keinen gemeinsamen Medientyp."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together.",
     "Zwei Pins derselben Richtung können nicht verbunden werden."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected.",
     "Der Vorgang ist nicht möglich, weil die Pins nicht verbunden sind."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available.",
     "Es ist keine Zuweisung für Samplepuffer verfügbar."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred.", "Ein Laufzeitfehler ist aufgetreten."},
    {VFW_E_BUFFER_NOTSET, "No buffer space has been set.",
     "Es wurde kein Pufferspeicher festgelegt."},
    {VFW_E_BUFFER_OVERFLOW, "The buffer is not big enough.", "Der Puffer ist nicht groß genug."},
    {VFW_E_BADALIGN, "An invalid alignment was specified.",
     "Es wurde eine ungültige Ausrichtung angegeben."},
    {VFW_E_NO_CLOCK, "This filter does not have a reference clock.",
     "Dieser Filter hat keine Referenzuhr."},
    {VFW_E_NO_SINK, "No sink has been set for this filter.",
     "Für diesen Filter wurde keine Senke festgelegt."},
    {VFW_E_NO_INTERFACE, "The required interface has not been implemented.",
     "Die erforderliche Schnittstelle ist nicht implementiert."},
    {VFW_E_NOT_FOUND, "An object or name was not found.",
     "Ein Objekt oder Name wurde nicht gefunden."},
    {VFW_E_CANNOT_CONNECT,
     "No combination of intermediate filters could be found to make the connection.",
     "Es wurde keine Kombination von Zwischenfiltern gefunden, mit der die Verbindung hergestellt "
     "werden kann."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream.",
     "Es wurde keine Kombination von Filtern gefunden, mit der der Datenstrom wiedergegeben werden "
     "kann."},
    {VFW_E_CHANGING_FORMAT, "Could not change formats dynamically.",
     "Das Format konnte nicht dynamisch geändert werden."},
    {VFW_E_STATE_CHANGED, "The state changed while waiting to process the sample.",
     "Der Zustand hat sich während der Verarbeitung des Samples geändert."},
    {VFW_E_NOT_STOPPED, "The operation could not be performed because the filter is not stopped.",
     "Der Vorgang ist nicht möglich, weil der Filter nicht angehalten ist."},
    {VFW_E_NOT_PAUSED, "The operation could not be performed because the filter is not paused.",
     "Der Vorgang ist nicht möglich, weil der Filter nicht pausiert ist."},
    {VFW_E_NOT_RUNNING, "The operation could not be performed because the filter is not running.",
     "Der Vorgang ist nicht möglich, weil der Filter nicht läuft."},
    {VFW_E_WRONG_STATE,
     "The operation could not be performed because the filter is in the wrong state.",
     "Der Vorgang ist nicht möglich, weil sich der Filter im falschen Zustand befindet."},
    {VFW_E_START_TIME_AFTER_END, "The sample start time is after the sample end time.",
     "Die Startzeit des Samples liegt nach seiner Endzeit."},
    {VFW_E_INVALID_RECT, "The supplied rectangle is invalid.",
     "Das angegebene Rechteck ist ungültig."},
    {VFW_E_TYPE_NOT_ACCEPTED, "This pin cannot use the supplied media type.",
     "Dieser Pin kann den angegebenen Medientyp nicht verwenden."},
    {VFW_E_SAMPLE_REJECTED, "This sample cannot be rendered.",
     "Dieses Sample kann nicht wiedergegeben werden."},
    {VFW_E_SAMPLE_REJECTED_EOS,
     "This sample cannot be rendered because the end of the stream has been reached.",
     "Dieses Sample kann nicht wiedergegeben werden, weil das Ende des Datenstroms erreicht ist."},
    {VFW_E_DUPLICATE_NAME, "An attempt to add a filter with a duplicate name failed.",
     "Ein Filter mit einem bereits vorhandenen Namen konnte nicht hinzugefügt werden."},
    {VFW_E_TIMEOUT, "A time-out has expired.", "Eine Zeitüberschreitung ist aufgetreten."},
    {VFW_E_INVALID_FILE_FORMAT, "The file format is invalid.", "Das Dateiformat ist ungültig."},
    {VFW_E_ENUM_OUT_OF_RANGE, "The list has already been exhausted.",
     "Die Liste ist bereits erschöpft."},
    {VFW_E_CIRCULAR_GRAPH, "The filter graph is circular.", "Das Filterdiagramm ist zirkulär."},
    {VFW_E_NOT_ALLOWED_TO_SAVE, "Updates are not allowed in this state.",
     "In diesem Zustand sind keine Aktualisierungen zulässig."},
    {VFW_E_TIME_ALREADY_PASSED, "An attempt was made to queue a command for a time in the past.",
     "Es wurde versucht, einen Befehl für einen vergangenen Zeitpunkt einzureihen."},
    {VFW_E_ALREADY_CANCELLED, "The queued command has already been canceled.",
     "Der eingereihte Befehl wurde bereits abgebrochen."},
    {VFW_E_CORRUPT_GRAPH_FILE, "Cannot render the file because it is corrupt.",
     "Die Datei kann nicht wiedergegeben werden, weil sie beschädigt ist."},
    {VFW_E_ADVISE_ALREADY_SET, "An overlay advise link already exists.",
     "Eine Überlagerungsbenachrichtigung besteht bereits."},
    {VFW_E_NO_ADVISE_SET, "No advise link has been set.",
     "Es wurde keine Benachrichtigung eingerichtet."},
    {VFW_E_NO_FULLSCREEN, "No full-screen modes are available.",
     "Es sind keine Vollbildmodi verfügbar."},
    {VFW_E_IN_FULLSCREEN_MODE, "This operation cannot be performed in full-screen mode.",
     "Dieser Vorgang ist im Vollbildmodus nicht möglich."},
    {VFW_E_UNKNOWN_FILE_TYPE, "The media type of this file is not recognized.",
     "Der Medientyp dieser Datei wurde nicht erkannt."},
    {VFW_E_CANNOT_LOAD_SOURCE_FILTER, "The source filter for this file could not be loaded.",
     "Der Quellfilter für diese Datei konnte nicht geladen werden."},
    {VFW_E_FILE_TOO_SHORT, "A file appeared to be incomplete.",
     "Eine Datei scheint unvollständig zu sein."},
    {VFW_E_INVALID_FILE_VERSION, "The version number of the file is invalid.",
     "Die Versionsnummer der Datei ist ungültig."},
    {VFW_E_INVALID_CLSID, "This file is corrupt: it contains an invalid class identifier.",
     "Diese Datei ist beschädigt: Sie enthält eine ungültige Klassenkennung."},
    {VFW_E_INVALID_MEDIA_TYPE, "This file is corrupt: it contains an invalid media type.",
     "Diese Datei ist beschädigt: Sie enthält einen ungültigen Medientyp."},
    {VFW_E_SAMPLE_TIME_NOT_SET, "No time stamp has been set for this sample.",
     "Für dieses Sample wurde kein Zeitstempel festgelegt."},
    {VFW_E_MEDIA_TIME_NOT_SET, "No media time stamp has been set for this sample.",
     "Für dieses Sample wurde kein Medienzeitstempel festgelegt."},
    {VFW_E_NO_TIME_FORMAT_SET, "No media time format has been selected.",
     "Es wurde kein Medienzeitformat ausgewählt."},
    {VFW_E_MONO_AUDIO_HW, "Cannot change balance because audio device is mono only.",
     "Die Balance kann nicht geändert werden, weil das Audiogerät nur Mono unterstützt."},
    {VFW_E_NO_DECOMPRESSOR,
     "Cannot play back the video stream: no suitable decompressor could be found.",
     "Der Videodatenstrom kann nicht wiedergegeben werden: Es wurde kein geeigneter Decoder "
     "gefunden."},
    {VFW_E_NO_AUDIO_HARDWARE,
     "Cannot play back the audio stream: no audio hardware is available, or the hardware is not "
     "responding.",
     "Der Audiodatenstrom kann nicht wiedergegeben werden: Es ist keine Audiohardware verfügbar, "
     "oder sie reagiert nicht."},
    {VFW_E_PROCESSOR_NOT_SUITABLE, "This processor does not support this stream.",
     "Dieser Prozessor unterstützt diesen Datenstrom nicht."},
    {VFW_E_UNSUPPORTED_AUDIO,
     "Cannot play back the audio stream: the audio format is not supported.",
     "Der Audiodatenstrom kann nicht wiedergegeben werden: Das Audioformat wird nicht "
     "unterstützt."},
    {VFW_E_UNSUPPORTED_VIDEO,
     "Cannot play back the video stream: the video format is not supported.",
     "Der Videodatenstrom kann nicht wiedergegeben werden: Das Videoformat wird nicht "
     "unterstützt."},
    {VFW_E_NOT_IN_GRAPH,
     "Cannot perform the requested function on an object that is not in the filter graph.",
     "Die Funktion kann nicht für ein Objekt ausgeführt werden, das sich nicht im Filterdiagramm "
     "befindet."},
    {VFW_E_NO_TIME_FORMAT,
     "Cannot get or set time related information on an object that is using a time format of "
     "TIME_FORMAT_NONE.",
     "Zeitinformationen können für ein Objekt ohne Zeitformat nicht gelesen oder gesetzt werden."},
    {VFW_E_READ_ONLY,
     "The connection cannot be made because the stream is read only and the filter alters the "
     "data.",
     "Die Verbindung ist nicht möglich, weil der Datenstrom schreibgeschützt ist und der Filter "
     "die Daten verändert."},
    {VFW_E_BUFFER_UNDERFLOW, "The buffer is not full enough.",
     "Der Puffer ist nicht ausreichend gefüllt."},
    {VFW_E_UNSUPPORTED_STREAM, "Cannot play back the file: the format is not supported.",
     "Die Datei kann nicht wiedergegeben werden: Das Format wird nicht unterstützt."},
    {VFW_E_NO_TRANSPORT, "Pins cannot connect due to not supporting the same transport.",
     "Die Pins können nicht verbunden werden, weil sie keinen gemeinsamen Transport unterstützen."},
    {VFW_E_TIME_EXPIRED, "This operation is not possible because the time has expired.",
     "Der Vorgang ist nicht möglich, weil die Zeit abgelaufen ist."},
    {VFW_E_FRAME_STEP_UNSUPPORTED, "Frame step is not supported on this configuration.",
     "Das Weiterschalten um einzelne Bilder wird in dieser Konfiguration nicht unterstützt."},
    // Success codes the media graph reports.
    {VFW_S_STATE_INTERMEDIATE, "The state transition has not completed.",
     "Der Zustandswechsel ist noch nicht abgeschlossen."},
    {VFW_S_PARTIAL_RENDER, "Some of the streams in this movie are in an unsupported format.",
     "Einige Datenströme in diesem Film liegen in einem nicht unterstützten Format vor."},
    {VFW_S_AUDIO_NOT_RENDERED,
     "The file is playing, but the audio stream cannot be played back: no suitable decompressor "
     "or audio output was found.",
     "Die Datei wird wiedergegeben, aber der Audiodatenstrom nicht: Es wurde kein geeigneter "
     "Decoder oder keine Audioausgabe gefunden."},
    {VFW_S_VIDEO_NOT_RENDERED,
     "The file is playing, but the video stream cannot be played back: no suitable decompressor "
     "could be found.",
     "Die Datei wird wiedergegeben, aber der Videodatenstrom nicht: Es wurde kein geeigneter "
     "Decoder gefunden."},
    {HR(0x0004022D),  // VFW_S_DUPLICATE_NAME
     "A filter was added under a modified name because its name was already in use.",
     "Ein Filter wurde unter einem geänderten Namen hinzugefügt, weil sein Name schon vergeben "
     "war."},
};

// The system's messages, with the trailing line break the system writes.
constexpr Text kSystemTexts[] = {
    {S_OK, "The operation completed successfully.\r\n",
     "Der Vorgang wurde erfolgreich beendet.\r\n"},
    {E_UNEXPECTED, "Catastrophic failure\r\n", "Schwerwiegender Fehler\r\n"},
    {E_NOTIMPL, "Not implemented\r\n", "Nicht implementiert\r\n"},
    {E_NOINTERFACE, "No such interface supported\r\n", "Schnittstelle nicht unterstützt\r\n"},
    {E_POINTER, "Invalid pointer\r\n", "Ungültiger Zeiger\r\n"},
    {E_ABORT, "Operation aborted\r\n", "Vorgang abgebrochen\r\n"},
    {E_FAIL, "Unspecified error\r\n", "Unbekannter Fehler\r\n"},
    {E_ACCESSDENIED, "Access is denied.\r\n", "Zugriff verweigert\r\n"},
    {E_HANDLE, "The handle is invalid.\r\n", "Das Handle ist ungültig.\r\n"},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation.\r\n",
     "Nicht genügend Speicher verfügbar, um diesen Vorgang abzuschließen.\r\n"},
    {E_INVALIDARG, "The parameter is incorrect.\r\n", "Falscher Parameter.\r\n"},
    {HRESULT_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n",
     "Das System kann die angegebene Datei nicht finden.\r\n"},
    {HRESULT_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n",
     "Das System kann den angegebenen Pfad nicht finden.\r\n"},
    // Only playlists answer this code here: our own words for it.
    {HRESULT_BAD_FORMAT, "The playlist could not be read.\r\n",
     "Die Playlist konnte nicht gelesen werden.\r\n"},
    {HRESULT_INVALID_DATA, "The data is invalid.\r\n", "Die Daten sind unzulässig.\r\n"},
    {HRESULT_NOT_SUPPORTED, "The request is not supported.\r\n",
     "Die Anforderung wird nicht unterstützt.\r\n"},
    {HRESULT_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n",
     "Der an einen Systemaufruf übergebene Datenbereich ist zu klein.\r\n"},
    {HRESULT_TIMEOUT, "This operation returned because the timeout period expired.\r\n",
     "Dieser Vorgang wurde wegen Zeitüberschreitung zurückgegeben.\r\n"},
    {HRESULT_CANCELLED, "The operation was canceled by the user.\r\n",
     "Der Vorgang wurde vom Benutzer abgebrochen.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), "No more data is available.\r\n",
     "Es sind keine weiteren Daten verfügbar.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_MORE_DATA), "More data is available.\r\n",
     "Weitere Daten sind verfügbar.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
     "Cannot create a file when that file already exists.\r\n",
     "Eine Datei kann nicht erstellt werden, wenn sie bereits vorhanden ist.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), "The system cannot write to the specified device.\r\n",
     "Das System kann nicht auf das angegebene Gerät schreiben.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_READ_FAULT), "The system cannot read from the specified device.\r\n",
     "Das System kann nicht von dem angegebenen Gerät lesen.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION),
     "The process cannot access the file because another process has locked a portion of the "
     "file.\r\n",
     "Der Prozess kann nicht auf die Datei zugreifen, da ein anderer Prozess einen Teil der Datei "
     "gesperrt hat.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
     "The file size exceeds the limit allowed and cannot be saved.\r\n",
     "Die Dateigröße überschreitet die zulässige Grenze und kann nicht gespeichert werden.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND),
     "The specified image file did not contain a resource section.\r\n",
     "Die angegebene Abbilddatei enthält keinen Ressourcenabschnitt.\r\n"},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)\r\n",
     "Die Klasse unterstützt keine Aggregation.\r\n"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class\r\n",
     "Die Klassenfabrik kann die angeforderte Klasse nicht liefern.\r\n"},
    {REGDB_E_CLASSNOTREG, "Class not registered\r\n", "Klasse nicht registriert\r\n"},
    {STG_E_INVALIDFUNCTION, "Unable to perform requested operation.\r\n",
     "Der angeforderte Vorgang kann nicht ausgeführt werden.\r\n"},
    {STG_E_FILENOTFOUND, "%1 could not be found.\r\n", "%1 wurde nicht gefunden.\r\n"},
    {STG_E_ACCESSDENIED, "Access Denied.\r\n", "Zugriff verweigert.\r\n"},
    {STG_E_INVALIDPOINTER, "Invalid pointer error.\r\n", "Ungültiger Zeiger.\r\n"},
    {STG_E_MEDIUMFULL, "There is insufficient disk space to complete operation.\r\n",
     "Nicht genügend Speicherplatz, um den Vorgang abzuschließen.\r\n"},
    {DISP_E_UNKNOWNNAME, "Unknown name.\r\n", "Unbekannter Name.\r\n"},
    {DISP_E_MEMBERNOTFOUND, "Member not found.\r\n", "Mitglied nicht gefunden.\r\n"},
    {DISP_E_TYPEMISMATCH, "Type mismatch.\r\n", "Typenkonflikt.\r\n"},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters.\r\n",
     "Ungültige Anzahl von Parametern.\r\n"},
    {DISP_E_EXCEPTION, "Exception occurred.\r\n", "Ausnahmefehler aufgetreten.\r\n"},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional.\r\n", "Parameter ist nicht optional.\r\n"},
    {DISP_E_OVERFLOW, "Out of present range.\r\n", "Außerhalb des gültigen Bereichs.\r\n"},
    {NS_E_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n",
     "Das System kann die angegebene Datei nicht finden.\r\n"},
    {NS_E_MEDIA_FILE_NOT_FOUND, "The file could not be found.\r\n",
     "Die Datei wurde nicht gefunden.\r\n"},
    {NS_E_FILE_OPEN_FAILED, "The file could not be opened.\r\n",
     "Die Datei konnte nicht geöffnet werden.\r\n"},
    {NS_E_SERVER_NOT_FOUND, "The specified server could not be found.\r\n",
     "Der angegebene Server wurde nicht gefunden.\r\n"},
    {NS_E_NET_READ, "Error reading from the network.\r\n",
     "Fehler beim Lesen aus dem Netzwerk.\r\n"},
    {NS_E_INVALID_DATA, "The data is not valid.\r\n", "Die Daten sind ungültig.\r\n"},
    {NS_E_UNRECOGNIZED_STREAM_TYPE, "The stream type is not recognized.\r\n",
     "Der Datenstromtyp wurde nicht erkannt.\r\n"},
    {NS_E_INVALID_INPUT_FORMAT, "The input media format is invalid.\r\n",
     "Das Eingabemedienformat ist ungültig.\r\n"},
    {NS_E_TIMEOUT, "The server is not responding.\r\n", "Der Server antwortet nicht.\r\n"},
    {NS_E_PROTOCOL_NOT_SUPPORTED, "The protocol is not supported.\r\n",
     "Das Protokoll wird nicht unterstützt.\r\n"},
    {INET_E_INVALID_URL, "The URL is invalid.\r\n", "Die URL ist ungültig.\r\n"},
    {INET_E_NO_SESSION, "No Internet session has been established.\r\n",
     "Es wurde keine Internetsitzung aufgebaut.\r\n"},
    {INET_E_CANNOT_CONNECT, "Unable to connect to the target server.\r\n",
     "Es konnte keine Verbindung mit dem Zielserver hergestellt werden.\r\n"},
    {INET_E_RESOURCE_NOT_FOUND, "The system cannot locate the resource specified.\r\n",
     "Das System kann die angegebene Ressource nicht finden.\r\n"},
    {INET_E_OBJECT_NOT_FOUND, "The system cannot locate the object specified.\r\n",
     "Das System kann das angegebene Objekt nicht finden.\r\n"},
    {INET_E_DATA_NOT_AVAILABLE, "No data is available for the requested resource.\r\n",
     "Für die angeforderte Ressource sind keine Daten verfügbar.\r\n"},
    {INET_E_DOWNLOAD_FAILURE, "The download has failed (the connection was interrupted).\r\n",
     "Der Download ist fehlgeschlagen (die Verbindung wurde unterbrochen).\r\n"},
    {INET_E_CONNECTION_TIMEOUT, "The operation timed out.\r\n",
     "Zeitüberschreitung beim Vorgang.\r\n"},
    {INET_E_INVALID_REQUEST, "The request was invalid.\r\n", "Die Anforderung war ungültig.\r\n"},
};

template <size_t N>
std::string Lookup(const Text (&table)[N], HRESULT hr, LANGID language) {
    auto it = std::find_if(std::begin(table), std::end(table),
                           [hr](const Text& t) { return t.hr == hr; });
    if (it == std::end(table))
        return {};
    if (!language)
        language = GetUILanguage();
    return language == LANG_GERMAN_DE ? it->german : it->english;
}

}  // namespace

std::string AMGetErrorText(HRESULT hr, LANGID language) {
    return Lookup(kMediaTexts, hr, language);
}

std::string FormatSystemMessage(HRESULT hr, LANGID language) {
    return Lookup(kSystemTexts, hr, language);
}
