#pragma once
// Numbered messages of the selected language file (section [Strings] of
// "<Language>.lng" in the program folder).
#include <string>

std::string LanguageString(int number);
// Forgets the loaded file, so the next lookup reads the current language.
void ReloadLanguage();
