#include "cli/terminal_prompts.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace fieldkit::cli {

namespace {

bool isYes(std::string answer)
{
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    answer.erase(answer.begin(), std::find_if_not(answer.begin(), answer.end(), isSpace));
    answer.erase(std::find_if_not(answer.rbegin(), answer.rend(), isSpace).base(), answer.end());
    std::transform(answer.begin(), answer.end(), answer.begin(), [](unsigned char c) { return std::tolower(c); });
    return answer == "y" || answer == "yes";
}

} // namespace

TerminalPrompts::TerminalPrompts(std::istream& in, std::ostream& out, bool assumeYes)
    : in_(in), out_(out), assumeYes_(assumeYes)
{
}

void TerminalPrompts::error(const std::string& text)
{
    out_ << "Error:\n" << text << '\n';
    printHint(text);
    out_ << std::flush;
}

void TerminalPrompts::warning(const std::string& text)
{
    out_ << "Warning:\n" << text << '\n';
    printHint(text);
    out_ << std::flush;
}

void TerminalPrompts::printHint(const std::string& text)
{
    if (!hints_)
        return;
    if (const std::string hint = hints_(text); !hint.empty())
        out_ << hint << '\n';
}

Answer TerminalPrompts::question(const std::string& text)
{
    out_ << "Question:\n" << text << '\n';
    printHint(text);
    out_ << "[y/N] " << std::flush;
    if (assumeYes_) {
        out_ << "y (--yes)\n" << std::flush;
        return Answer::Yes;
    }
    std::string answer;
    const bool answered = static_cast<bool>(std::getline(in_, answer));
    if (!answered)
        out_ << '\n';
    if (answered && isYes(answer))
        return Answer::Yes;
    declined_ = true;
    return Answer::No;
}

} // namespace fieldkit::cli
