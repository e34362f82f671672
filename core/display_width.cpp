// The platform's own tables of character widths.

#include "core/display_width.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>
#else
#include <clocale>
#include <cwchar>
#include <locale.h>
#include <wchar.h>
#endif

namespace fieldkit {

#ifdef _WIN32

std::size_t displayWidth(std::string_view utf8)
{
    if (utf8.empty())
        return 0;
    // Bytes that begin no character become U+FFFD, one column each.
    const int length = static_cast<int>(utf8.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), units);
    std::vector<WORD> types(wide.size());
    if (!::GetStringTypeW(CT_CTYPE3, wide.data(), units, types.data()))
        return wide.size();
    std::size_t width = 0;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        // Outside the first plane most of what terminals show is emoji and rare ideographs,
        // both two columns wide.
        if (IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1])) {
            width += 2;
            ++i;
        } else if ((types[i] & C3_NONSPACING) != 0 && (types[i] & C3_ALPHA) == 0) {
            // A combining mark. Letters that carry their accent are marked nonspacing too,
            // for the accent, but are letters first.
            continue;
        } else {
            const bool wideForm = (types[i] & (C3_FULLWIDTH | C3_IDEOGRAPH | C3_HIRAGANA | C3_KATAKANA)) != 0 &&
                                  (types[i] & C3_HALFWIDTH) == 0;
            width += wideForm ? 2 : 1;
        }
    }
    return width;
}

#else

std::size_t displayWidth(std::string_view utf8)
{
    // The C library knows every character's width, but only through a UTF-8 locale, and the
    // user's may be "C" or another character set: C.UTF-8 is asked for by name and used on
    // this thread only while measuring.
    static const locale_t utf8Locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    std::size_t width = 0;
    if (utf8Locale == locale_t{}) {
        // Without it, a column for every character, as most of them take.
        for (const char c : utf8)
            width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
        return width;
    }
    const locale_t previous = ::uselocale(utf8Locale);
    std::mbstate_t state{};
    for (std::size_t at = 0; at < utf8.size();) {
        wchar_t character = 0;
        const std::size_t length = std::mbrtowc(&character, utf8.data() + at, utf8.size() - at, &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
            ++width;
            ++at;
            state = {};
            continue;
        }
        const int columns = ::wcwidth(character);
        width += columns < 0 ? 1 : static_cast<std::size_t>(columns);
        at += length == 0 ? 1 : length;
    }
    ::uselocale(previous);
    return width;
}

#endif

} // namespace fieldkit
