// Building the console's pages: escaping, the frame every page shares (navigation, language,
// logout), forms that carry the session's token, and numbers as the pages show them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/console_internal.h"

namespace admin {

// `text` for HTML text or a quoted attribute value.
std::string Esc(std::string_view text);
// Esc(Tr(lang, english)).
std::string EscT(const Call& call, std::string_view english);

// The whole page: head, the navigation `page` is part of ("today", "users", ...), `body`.
// `data` is added to <main> as attributes for the script (already escaped, with its leading
// blank).
std::string Frame(const Call& call, std::string_view page, std::string_view title,
                  const std::string& body, const std::string& data = {});

// A form that posts to `action` with the session's token and `back` (where to return), its
// fields `fields` and a button `button` (already escaped).
std::string PostForm(const Call& call, const std::string& action, const std::string& fields,
                     const std::string& button, const std::string& back,
                     const std::string& css_class = {});

// "unlimited" for -1, the number otherwise.
std::string MinutesText(const Call& call, long minutes);
// A choice of class for the form field "group": no class, or one of `groups`; `label` shows
// its label.
std::string ClassChoice(const Call& call, const std::vector<std::string>& groups,
                        const std::string& current, bool label = true);
// The forms that set the allowance by weekday and the allowed and free hours of `owner` (a user,
// @CLASS or *); with `owner` empty, a field to name it, offering `owners`.
std::string ScheduleForms(const Call& call, const std::string& owner,
                          const std::vector<std::string>& owners, const std::string& back);

// The path of a user's page.
std::string UserPath(std::string_view user);

}  // namespace admin
