#include "cli/interrupt.h"

#include <chrono>

namespace fieldkit::cli {

namespace {

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
    }
    return kInterruptedStatus;
}

InterruptWatch::InterruptWatch(UpgradeStop& stop)
    : stop_(stop), watcher_([this] {
          while (!finished_.requested()) {
              if (pendingInterrupt() != InterruptSignal::None) {
                  stop_.request();
                  return;
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
