#include "cli/interrupt.h"

#include <chrono>

namespace fieldkit::cli {

namespace {

constexpr std::chrono::milliseconds kWatchInterval{20};

} // namespace

InterruptWatch::InterruptWatch(UpgradeStop& stop)
    : stop_(stop), watcher_([this] {
          while (!finished_.requested()) {
              switch (session::pendingStopSignal()) {
              case session::StopSignal::None: break;
              case session::StopSignal::HangUp: stop_.requestBeforeErase(); break; // a Ctrl+C may follow
              default: stop_.request(); return;
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
