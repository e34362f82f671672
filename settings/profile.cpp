#include "settings/profile.h"

#include "core/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fieldkit::settings {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view trim(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct Line {
    std::string_view text;   // without its line end
    std::string_view ending; // "\n", "\r\n" or empty for a last line without one
};

std::vector<Line> splitLines(std::string_view content)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const auto newline = content.find('\n', start);
        if (newline == std::string_view::npos) {
            lines.push_back({content.substr(start), {}});
            break;
        }
        std::size_t end = newline;
        std::size_t endingStart = newline;
        if (end > start && content[end - 1] == '\r')
            endingStart = --end;
        lines.push_back({content.substr(start, end - start), content.substr(endingStart, newline + 1 - endingStart)});
        start = newline + 1;
    }
    return lines;
}

// The section a line opens, if it is a section header.
std::optional<std::string_view> sectionOf(std::string_view line)
{
    const auto text = trim(line);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    const auto close = text.find(']');
    return trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

bool isComment(std::string_view line)
{
    const auto text = trim(line);
    return !text.empty() && (text.front() == ';' || text.front() == '#');
}

// The key of a "key = value" line, and where its value starts.
std::optional<std::pair<std::string_view, std::string_view>> keyValueOf(std::string_view line)
{
    if (isComment(line))
        return std::nullopt;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return std::pair{trim(line.substr(0, equals)), line.substr(equals + 1)};
}

std::string_view unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::string cut(std::string_view value, std::size_t bufferSize)
{
    if (bufferSize == 0)
        return {};
    return std::string(value.substr(0, bufferSize - 1));
}

std::string_view preferredEnding(std::string_view content)
{
    return content.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
}

std::string systemError(const std::string& what, int code)
{
    return what + ": " + std::strerror(code);
}

// How a settings file's text is stored. Windows editors save "UTF-8 with BOM" and "Unicode"
// (UTF-16 with its byte order mark), and the system's own profile functions read both; a file
// is written back the way it came.
enum class Encoding { Utf8, Utf8WithMark, Utf16LittleEndian, Utf16BigEndian };

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";

struct DecodedText {
    Encoding encoding = Encoding::Utf8;
    std::string text;  // UTF-8
    std::string tail;  // a UTF-16 file's odd last byte, kept for the write
};

std::uint16_t unitAt(std::string_view bytes, std::size_t at, Encoding encoding)
{
    const auto first = static_cast<unsigned char>(bytes[at]);
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return static_cast<std::uint16_t>(encoding == Encoding::Utf16LittleEndian ? second << 8 | first
                                                                              : first << 8 | second);
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 to UTF-8. A surrogate without its partner is carried as the three bytes its code
// would take, so that writing the file back gives every unit as it was.
std::string utf8FromUtf16(std::string_view units, Encoding encoding)
{
    std::string text;
    text.reserve(units.size() / 2);
    for (std::size_t at = 0; at + 1 < units.size(); at += 2) {
        std::uint32_t code = unitAt(units, at, encoding);
        if (code >= 0xD800 && code < 0xDC00 && at + 3 < units.size()) {
            const std::uint16_t low = unitAt(units, at + 2, encoding);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            }
        }
        appendUtf8(text, code);
    }
    return text;
}

void appendUnit(std::string& out, std::uint32_t unit, Encoding encoding)
{
    const auto high = static_cast<char>(unit >> 8 & 0xFF);
    const auto low = static_cast<char>(unit & 0xFF);
    out += encoding == Encoding::Utf16LittleEndian ? low : high;
    out += encoding == Encoding::Utf16LittleEndian ? high : low;
}

// UTF-8 to UTF-16. A byte that starts no whole sequence stands for itself, as Latin-1 would.
std::string utf16FromUtf8(std::string_view text, Encoding encoding)
{
    std::string units;
    units.reserve(text.size() * 2);
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        bool whole = length > 0 && at + length <= text.size();
        std::uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t i = 1; whole && i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            whole = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!whole || code > 0x10FFFF) {
            appendUnit(units, lead, encoding);
            ++at;
            continue;
        }
        if (code >= 0x10000) {
            appendUnit(units, 0xD800 + ((code - 0x10000) >> 10), encoding);
            appendUnit(units, 0xDC00 + ((code - 0x10000) & 0x3FF), encoding);
        } else {
            appendUnit(units, code, encoding);
        }
        at += length;
    }
    return units;
}

DecodedText decoded(std::string_view bytes)
{
    if (bytes.starts_with(kUtf8Mark))
        return {Encoding::Utf8WithMark, std::string(bytes.substr(kUtf8Mark.size())), {}};
    for (const auto& [mark, encoding] : {std::pair{kUtf16LittleEndianMark, Encoding::Utf16LittleEndian},
                                         std::pair{kUtf16BigEndianMark, Encoding::Utf16BigEndian}})
        if (bytes.starts_with(mark)) {
            const auto units = bytes.substr(mark.size());
            return {encoding, utf8FromUtf16(units, encoding), std::string(units.substr(units.size() & ~std::size_t{1}))};
        }
    return {Encoding::Utf8, std::string(bytes), {}};
}

std::string encoded(const DecodedText& decoded)
{
    switch (decoded.encoding) {
    case Encoding::Utf8: return decoded.text;
    case Encoding::Utf8WithMark: return std::string(kUtf8Mark) + decoded.text;
    case Encoding::Utf16LittleEndian:
        return std::string(kUtf16LittleEndianMark) + utf16FromUtf8(decoded.text, decoded.encoding) + decoded.tail;
    case Encoding::Utf16BigEndian:
        return std::string(kUtf16BigEndianMark) + utf16FromUtf8(decoded.text, decoded.encoding) + decoded.tail;
    }
    return decoded.text;
}

std::string fileContent(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string content;
    if (in)
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return content;
}

std::string withKeyInText(std::string_view content, std::string_view section, std::string_view key,
                                std::string_view value)
{
    const auto lines = splitLines(content);
    const auto ending = preferredEnding(content);
    const std::string newKeyLine = std::string(key) + "=" + std::string(value);

    std::optional<std::size_t> sectionLine;
    std::optional<std::size_t> lastInSection; // last non-blank line of the section
    std::optional<std::size_t> keyLine;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionOf(lines[i].text)) {
            if (sectionLine)
                break;
            if (equalsIgnoringCase(*name, section))
                sectionLine = lastInSection = i;
            continue;
        }
        if (!sectionLine)
            continue;
        if (!trim(lines[i].text).empty())
            lastInSection = i;
        if (const auto keyValue = keyValueOf(lines[i].text); keyValue && equalsIgnoringCase(keyValue->first, key)) {
            keyLine = i;
            break;
        }
    }

    std::string out;
    out.reserve(content.size() + newKeyLine.size() + section.size() + 8);
    auto appendLine = [&](std::string_view text, std::string_view lineEnding) {
        out.append(text);
        out.append(lineEnding);
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (keyLine && i == *keyLine) {
            // Keep the key as the file spells it.
            const auto equals = lines[i].text.find('=');
            appendLine(std::string(lines[i].text.substr(0, equals + 1)) + std::string(value), lines[i].ending);
            continue;
        }
        const bool insertAfter = !keyLine && lastInSection == i;
        appendLine(lines[i].text, insertAfter && lines[i].ending.empty() ? ending : lines[i].ending);
        if (insertAfter)
            appendLine(newKeyLine, ending);
    }
    if (!sectionLine) {
        if (!out.empty() && out.back() != '\n')
            out.append(ending);
        out.append("[").append(section).append("]");
        out.append(ending);
        appendLine(newKeyLine, ending);
    }
    return out;
}

} // namespace

std::string readProfileStringFrom(std::string_view content, std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::size_t bufferSize)
{
    const std::string text = decoded(content).text;
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : splitLines(text)) {
        if (const auto name = sectionOf(line.text)) {
            // Only the first section of that name counts, as for keys.
            if (inSection)
                break;
            inSection = !sectionSeen && equalsIgnoringCase(*name, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto keyValue = keyValueOf(line.text); keyValue && equalsIgnoringCase(keyValue->first, key))
            return cut(unquote(trim(keyValue->second)), bufferSize);
    }
    return cut(trim(defaultValue), bufferSize);
}

std::string readProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize)
{
    return readProfileStringFrom(fileContent(file), section, key, defaultValue, bufferSize);
}

std::optional<std::string> profileProblem(std::string_view content)
{
    const std::string text = decoded(content).text;
    if (text.find('\0') != std::string::npos)
        return "holds NUL bytes, so it is not read as text: save it as UTF-8, or as UTF-16 (\"Unicode\") with its "
               "byte order mark";
    bool sectionSeen = false;
    std::size_t number = 0;
    for (const Line& line : splitLines(text)) {
        ++number;
        if (sectionOf(line.text)) {
            sectionSeen = true;
            continue;
        }
        if (trim(line.text).empty() || isComment(line.text))
            continue;
        if (!keyValueOf(line.text))
            return "line " + std::to_string(number) + " is neither a [section], a key=value nor a comment, and is not read";
        if (!sectionSeen)
            return "line " + std::to_string(number) + " stands before any [section] line, and is not read";
    }
    return std::nullopt;
}

std::optional<std::string> readProfileProblem(const fs::path& file)
{
    return profileProblem(fileContent(file));
}

std::string withProfileString(std::string_view content, std::string_view section, std::string_view key,
                              std::string_view value)
{
    DecodedText file = decoded(content);
    file.text = withKeyInText(file.text, section, key, value);
    return encoded(file);
}

bool writeProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value, std::string* error)
{
    auto fail = [&](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };

    // Write through a symbolic link to the file it names, keeping the link.
    std::error_code ec;
    fs::path target = file;
    if (fs::is_symlink(fs::symlink_status(file, ec))) {
        target = fs::canonical(file, ec);
        if (ec)
            return fail(file.string() + ": " + ec.message());
    }

    std::string content;
    const bool exists = fs::exists(target, ec);
    if (exists) {
        std::ifstream in(target, std::ios::binary);
        if (!in)
            return fail(systemError("Cannot read " + target.string(), errno));
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
#ifndef _WIN32
        if (::access(target.c_str(), W_OK) != 0)
            return fail(systemError("Cannot write " + target.string(), errno));
#endif
    }
    const std::string updated = withProfileString(content, section, key, value);

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(updated.data());
    std::string why;
    if (!replaceFile(target, {bytes, updated.size()}, Durability::OnDisk, &why))
        return fail(why);
    return true;
}

} // namespace fieldkit::settings
