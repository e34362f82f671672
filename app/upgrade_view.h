#pragma once

#include <QString>
#include <QWidget>

class QGroupBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace fieldkit::app {

class CMainFrame;

// The form inside the main window: the information text from Info.txt in its group box,
// the Upgrade button and the progress bar.
class CUpgradeView final : public QWidget {
    Q_OBJECT
public:
    explicit CUpgradeView(CMainFrame& frame);

    // Loads the information text afresh and fits the frame to the form (shrinking only).
    // Runs at start-up and again for every new document.
    void OnInitialUpdate();

    // The form's size.
    QSize sizeHint() const override;

    QPushButton* m_btnUpgrade;
    QProgressBar* m_progress;
    QString m_strInfo;

    QPlainTextEdit* infoText() const { return m_info; }

private slots:
    void OnUpgradeButton();

private:
    CMainFrame& m_frame;
    QGroupBox* m_group;
    QPlainTextEdit* m_info;
};

// Bytes of the information file as text: UTF-8 when they are valid UTF-8, else
// Windows-1252, the code page such files were written in; CR LF line ends become line breaks.
QString infoTextForDisplay(const std::string& bytes);

} // namespace fieldkit::app
