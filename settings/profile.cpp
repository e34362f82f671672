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

} // namespace

std::string readProfileStringFrom(std::string_view content, std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::size_t bufferSize)
{
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : splitLines(content)) {
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
    std::ifstream in(file, std::ios::binary);
    std::string content;
    if (in)
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return readProfileStringFrom(content, section, key, defaultValue, bufferSize);
}

std::string withProfileString(std::string_view content, std::string_view section, std::string_view key,
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
