#pragma once

// How the desktop program ends when it is asked to from outside the window: a signal (the
// terminal it was started from closed, logging out, `kill`, `systemctl stop`) or the desktop
// session ending. As on the command line, from the one session both use: before the erase the
// upgrade stops at its next safe point, writes nothing and is recorded "interrupted"; from the
// erase on it is let finish, since only a finished board is whole, and recorded; then the
// program ends with the status the command line gives for the same ending.

#include "app/main_frame.h"
#include "session/stop_signals.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace fieldkit::app {

// The desktop session's question before it ends (Qt's session manager, or a test's).
class SessionEndRequest {
public:
    virtual ~SessionEndRequest() = default;
    // Whether the program may show a box now; the session waits for it meanwhile.
    virtual bool allowsInteraction() = 0;
    // Asks the session not to end.
    virtual void cancel() = 0;
};

class ProgramEnding final : public QObject {
public:
    // What came from outside (session::pendingStopSignal), and how the program ends
    // (QCoreApplication::exit); tests put their own here.
    using SignalSource = std::function<session::StopSignal()>;
    using Quit = std::function<void(int status)>;

    explicit ProgramEnding(CMainFrame& frame, SignalSource pendingSignal = session::pendingStopSignal,
                           Quit quit = {});

    // The desktop session is about to end. Idle, it may; before the erase the upgrade stops
    // and is recorded first; past the erase the session is held back unless the technician,
    // asked as the close guard asks, insists.
    void onSessionEnding(SessionEndRequest& request);

private:
    void lookForSignal();
    void upgradeEnded(flash::RunResult result, UpgradeStage stage);
    void end(int status);

    CMainFrame& frame_;
    SignalSource pendingSignal_;
    Quit quit_;
    // Signal handlers may only take note; the window's thread looks here for what came.
    QTimer watch_;
    bool ending_ = false;
};

} // namespace fieldkit::app
