#include "platform/posix/posix_locale.h"

#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#if defined(__APPLE__)
#include <xlocale.h>  // newlocale and nl_langinfo_l
#endif

#include <cstdlib>
#include <string_view>

namespace posix {
namespace {

bool NamesUtf8(const char* name) {
  if (name == nullptr) return false;
  const std::string_view text(name);
  for (std::string_view form : {"UTF-8", "utf-8", "UTF8", "utf8"}) {
    if (text.find(form) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

Glyphs GlyphsOfTheLocale() {
  // The locale's name, as the C library picks it: the first of these that is set and not empty.
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(variable);
    if (name != nullptr && *name != '\0') break;
  }
  // A name that says UTF-8 is enough, whether or not that locale is installed; only another name
  // needs the locale itself looked up.
  if (name != nullptr && NamesUtf8(name)) return Glyphs::kUtf8;
  if (const locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
    const bool utf8 = ::strcasecmp(::nl_langinfo_l(CODESET, user), "UTF-8") == 0;
    ::freelocale(user);
    return utf8 ? Glyphs::kUtf8 : Glyphs::kAscii;
  }
  return Glyphs::kAscii;
}

}  // namespace posix
