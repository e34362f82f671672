#pragma once

#include "core/prompts.h"

#include <deque>
#include <string>
#include <vector>

namespace fieldkit::testing {

// Records every box in order and answers questions from a script (No once it runs out).
class ScriptedPrompts final : public Prompts {
public:
    enum class Kind { Error, Question, Warning };
    struct Box {
        Kind kind;
        std::string text;
        Cause cause;
    };

    explicit ScriptedPrompts(std::deque<Answer> answers = {}) : answers_(std::move(answers)) {}

    void error(FailureKind cause, const std::string& text) override { boxes.push_back({Kind::Error, text, cause}); }
    Answer question(QuestionKind cause, const std::string& text) override
    {
        boxes.push_back({Kind::Question, text, cause});
        if (answers_.empty())
            return Answer::No;
        const Answer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void warning(WarningKind cause, const std::string& text) override
    {
        boxes.push_back({Kind::Warning, text, cause});
    }

    std::vector<Box> boxes;

private:
    std::deque<Answer> answers_;
};

} // namespace fieldkit::testing
