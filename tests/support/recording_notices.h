#pragma once

#include "core/upgrade_notices.h"

#include <string>
#include <vector>

namespace fieldkit::testing {

// Every notice an upgrade sends, as (code, argument, text) in order.
class RecordingNotices final : public UpgradeNotices {
public:
    struct Notice {
        int code;
        std::uint32_t argument;
        std::string text;
        bool operator==(const Notice&) const = default;
    };

    explicit RecordingNotices(bool window = true) : window_(window) {}

    bool hasWindow() const override { return window_; }
    void statusText(UpgradeStage stage, const char* constantText) override
    {
        notices.push_back({UPG_STATUS_TEXT, 0, constantText});
        stages.push_back(stage);
    }
    void beginProgress(std::uint32_t pageCount) override { notices.push_back({UPG_BEGIN_PROGRESS, pageCount, {}}); }
    void pageDone() override { notices.push_back({UPG_PAGE_DONE, 0, {}}); }
    void finalText(const std::string& text) override { notices.push_back({UPG_STATUS_TEXT, 1, text}); }
    void finished(int result) override { notices.push_back({UPG_FINISHED, static_cast<std::uint32_t>(result), {}}); }

    std::vector<std::string> statusTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& notice : notices)
            if (notice.code == UPG_STATUS_TEXT)
                texts.push_back(notice.text);
        return texts;
    }

    std::vector<Notice> notices;
    std::vector<UpgradeStage> stages; // of each status text but the final one
    bool window_;
};

} // namespace fieldkit::testing
