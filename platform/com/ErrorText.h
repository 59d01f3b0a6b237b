#pragma once
// Texts for HRESULTs: the media framework's own texts (AMGetErrorText) and
// the system's messages (FormatMessage from the system), in English and
// German. Both answer an empty string for a code they do not know.
#include <string>

#include "platform/com/HResult.h"

// The media framework's text for hr (the VFW_* codes), or empty.
std::string AMGetErrorText(HRESULT hr, LANGID language = 0);

// The system's message for hr (generic, Win32, Windows Media and URL codes),
// with a trailing line break as the system writes it, or empty.
std::string FormatSystemMessage(HRESULT hr, LANGID language = 0);
