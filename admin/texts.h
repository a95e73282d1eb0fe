// The console's two languages: its texts are written in English in the code and looked up in
// the Dutch table when the page is Dutch. Pure functions; safe from several threads.
#pragma once

#include <string>
#include <string_view>

namespace admin {

enum class Lang { kEnglish, kDutch };

// "en" or "nl".
const char* LangCode(Lang lang);

// `english` in `lang`: itself, or its Dutch text (itself when the table has none).
std::string Tr(Lang lang, std::string_view english);

}  // namespace admin
