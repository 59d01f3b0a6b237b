#pragma once
// The user-interface language: English (1033) or German (1031), taken from
// the user's locale (LC_ALL, LC_MESSAGES, LANG) unless set explicitly.
#include "platform/com/HResult.h"

constexpr LANGID LANG_ENGLISH_US = 1033;
constexpr LANGID LANG_GERMAN_DE = 1031;

LANGID GetUILanguage();
// Overrides the language for the process (0 returns to the locale's choice).
void SetUILanguage(LANGID language);
