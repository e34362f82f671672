#pragma once

#include "core/causes.h"

#include <cstdint>
#include <string>

namespace fieldkit {

// Codes and results of the upgrade notice to the main window; the numbers are those the
// window's handler dispatches on.
inline constexpr int UPG_PAGE_DONE = 10;
inline constexpr int UPG_FINISHED = 11;
inline constexpr int UPG_STATUS_TEXT = 12;
inline constexpr int UPG_BEGIN_PROGRESS = 13;
inline constexpr int UPG_RESULT_SUCCESS = 100;
inline constexpr int UPG_RESULT_FAILURE = 101;

// Where an upgrade reports its progress. Everything but finalText is posted: the call
// returns at once and the window handles it later, in order. finalText is delivered and
// waited for, so the window has shown it before the finished notice arrives.
class UpgradeNotices {
public:
    virtual ~UpgradeNotices() = default;

    // Whether a window exists right now to receive notices; without one the worker sends
    // none (its message boxes still appear).
    virtual bool hasWindow() const = 0;

    // UPG_STATUS_TEXT with a text of static lifetime, naming the step the upgrade entered.
    virtual void statusText(UpgradeStage stage, const char* constantText) = 0;
    // UPG_BEGIN_PROGRESS with the number of pages that will be written.
    virtual void beginProgress(std::uint32_t pageCount) = 0;
    // UPG_PAGE_DONE after each page written.
    virtual void pageDone() = 0;
    // UPG_STATUS_TEXT with the final text, sent and waited for.
    virtual void finalText(const std::string& text) = 0;
    // UPG_FINISHED with UPG_RESULT_SUCCESS or UPG_RESULT_FAILURE.
    virtual void finished(int result) = 0;
};

} // namespace fieldkit
