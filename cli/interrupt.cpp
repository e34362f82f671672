#include "cli/interrupt.h"

#include <chrono>

namespace fieldkit::cli {

namespace {

constexpr int kHungUpStatus = 128 + 1;      // SIGHUP
constexpr int kInterruptedStatus = 128 + 2; // SIGINT
constexpr int kTerminatedStatus = 128 + 15; // SIGTERM
constexpr std::chrono::milliseconds kWatchInterval{20};

} // namespace

int exitStatusFor(InterruptSignal signal)
{
    switch (signal) {
    case InterruptSignal::None: return 0;
    case InterruptSignal::Interrupt: return kInterruptedStatus;
    case InterruptSignal::Terminate: return kTerminatedStatus;
    case InterruptSignal::HangUp: return kHungUpStatus;
    }
    return kInterruptedStatus;
}

InterruptWatch::InterruptWatch(UpgradeStop& stop)
    : stop_(stop), watcher_([this] {
          while (!finished_.requested()) {
              switch (pendingInterrupt()) {
              case InterruptSignal::None: break;
              case InterruptSignal::HangUp: stop_.requestBeforeErase(); break; // a Ctrl+C may follow
              case InterruptSignal::Interrupt:
              case InterruptSignal::Terminate: stop_.request(); return;
              }
              finished_.waitFor(kWatchInterval);
          }
      })
{
}

InterruptWatch::~InterruptWatch()
{
    finished_.request();
    watcher_.join();
}

} // namespace fieldkit::cli
