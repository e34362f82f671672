#pragma once

#include "session/front_end.h"

#include <QGroupBox>

#include <string>

class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace fieldkit::app {

// One port of the bench window: its port and device, the radio's ESN and firmware version once
// read, the step its upgrade is in, a progress bar, and at the end the result with the time it
// took; a failed run's message with its hint stays below, in text that can be selected and
// copied (Alt and the port's number reach it from the keyboard).
class BenchPane final : public QGroupBox {
    Q_OBJECT
public:
    BenchPane(int port, const std::string& device, QWidget* parent);

    // A new run begins, at `step`: everything of the last one goes.
    void starting(const std::string& device, const char* step);
    void show(const session::ProgressEvent& event);
    // A box of the run that is not a question: shown in the pane, not over the window.
    void showMessage(const std::string& text);
    void ended(const session::PortOutcome& outcome);

    // How far the run is, in thousandths of the whole; a run that ended counts as whole.
    int progressPermille() const;

    QLabel* device() const { return m_device; }
    QLabel* esn() const { return m_esn; }
    QLabel* version() const { return m_version; }
    QLabel* step() const { return m_step; }
    QProgressBar* progress() const { return m_progress; }
    QLabel* result() const { return m_result; }
    QPlainTextEdit* message() const { return m_message; }

private:
    void showDevice(const std::string& device);

    QLabel* m_device;
    QLabel* m_esn;
    QLabel* m_version;
    QLabel* m_step;
    QProgressBar* m_progress;
    QLabel* m_result;
    QPlainTextEdit* m_message;
    bool m_ended = false;
};

} // namespace fieldkit::app
