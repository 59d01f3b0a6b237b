#pragma once
// Id-keyed string tables, English (1033) and German (1031), built from the
// text files in resources/strings. Lookups use the user-interface language
// and fall back to English.
#include <string>

#include "platform/com/HResult.h"

// Ids of framework texts.
constexpr unsigned AFX_IDP_NO_ERROR_AVAILABLE = 0xF000;
constexpr unsigned AFX_IDP_FAILED_MEMORY_ALLOC = 0xF001;
constexpr unsigned AFX_IDP_NOT_SUPPORTED = 0xF002;
constexpr unsigned AFX_IDP_FILE_NOT_FOUND = 0xF003;
constexpr unsigned AFX_IDP_FILE_GENERIC = 0xF004;
constexpr unsigned AFX_IDP_RESOURCE_FAILURE = 0xF005;
constexpr unsigned AFX_IDP_FILE_ACCESS_DENIED = 0xF006;

constexpr unsigned IDS_CONTROL_TYPE_NAME = 1;
constexpr unsigned IDS_LOCALE = 101;
constexpr unsigned IDS_APP_TITLE = 57344;

// True and the text when the id has one (in the language, else in English).
bool TryLoadString(unsigned id, std::string& text, LANGID language = 0);
// The text, or an empty string when the id has none.
std::string LoadResString(unsigned id, LANGID language = 0);

// Maps string 101 ("english_usa", "german_germany") to a POSIX locale and
// sets it for every category but LC_NUMERIC, which stays "C" so that
// numbers in settings and playlists keep their '.'. Returns the locale set,
// or an empty string when the system has no such locale.
std::string SetLocaleFromResources();
// The POSIX locale for a Windows locale name, or empty when unknown.
std::string PosixLocaleFor(const std::string& windowsName);
