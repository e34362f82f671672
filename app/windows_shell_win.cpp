#include "app/windows_shell.h"

#include "app/bench_window.h"
#include "app/main_frame.h"
#include "app/upgrade_view.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProgressBar>
#include <QString>

#include <windows.h>
// After windows.h, which they build on.
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

namespace fieldkit::app {

class WindowsShell::Native final : public QAbstractNativeEventFilter {
public:
    explicit Native(QWidget& window) : window_(window) { QCoreApplication::instance()->installNativeEventFilter(this); }

    ~Native() override
    {
        setRunning(false);
        setHolding(false);
        QCoreApplication::instance()->removeNativeEventFilter(this);
        if (taskbar_ != nullptr)
            taskbar_->Release();
    }

    Native(const Native&) = delete;
    Native& operator=(const Native&) = delete;

    // Windows asks every top-level window before a log-off or shut-down; FALSE holds it back,
    // and the reason set in setBusy() tells the user why.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override
    {
        if (!holding_ || eventType != "windows_generic_MSG" ||
            static_cast<const MSG*>(message)->message != WM_QUERYENDSESSION)
            return false;
        *result = FALSE;
        return true;
    }

    // Logging off and shutting down held back, with the reason shown.
    void setHolding(bool holding)
    {
        if (holding == holding_)
            return;
        holding_ = holding;
        const HWND window = nativeWindow();
        if (window == nullptr)
            return;
        if (holding)
            ShutdownBlockReasonCreate(window, QString::fromUtf8(IDS_SHUTDOWN_REASON).toStdWString().c_str());
        else
            ShutdownBlockReasonDestroy(window);
    }

    // The taskbar button's progress shown.
    void setRunning(bool running)
    {
        if (running == running_)
            return;
        running_ = running;
        const HWND window = nativeWindow();
        if (window == nullptr)
            return;
        if (ITaskbarList3* taskbar = taskbarList())
            taskbar->SetProgressState(window, running ? TBPF_NORMAL : TBPF_NOPROGRESS);
    }

    void setProgress(int value, int maximum)
    {
        const HWND window = nativeWindow();
        if (!running_ || maximum <= 0 || window == nullptr)
            return;
        if (ITaskbarList3* taskbar = taskbarList())
            taskbar->SetProgressValue(window, static_cast<ULONGLONG>(value), static_cast<ULONGLONG>(maximum));
    }

private:
    // Only the native platform has a window of Windows' own (not -platform offscreen).
    HWND nativeWindow() const
    {
        if (QGuiApplication::platformName() != QLatin1String("windows"))
            return nullptr;
        return reinterpret_cast<HWND>(window_.winId());
    }

    // Made when first needed, once the window has its taskbar button. Without one (an old
    // shell, no COM) the upgrade just runs without the button's progress.
    ITaskbarList3* taskbarList()
    {
        if (taskbar_ == nullptr && !taskbarTried_) {
            taskbarTried_ = true;
            void* created = nullptr;
            if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                           &created))) {
                taskbar_ = static_cast<ITaskbarList3*>(created);
                if (FAILED(taskbar_->HrInit())) {
                    taskbar_->Release();
                    taskbar_ = nullptr;
                }
            }
        }
        return taskbar_;
    }

    QWidget& window_;
    bool running_ = false;
    bool holding_ = false;
    ITaskbarList3* taskbar_ = nullptr;
    bool taskbarTried_ = false;
};

WindowsShell::WindowsShell(CMainFrame& frame) : native_(std::make_unique<Native>(frame))
{
    connect(&frame, &CMainFrame::busyChanged, this, [this](bool busy) {
        native_->setRunning(busy);
        native_->setHolding(busy);
    });
    QProgressBar* progress = frame.GetActiveView()->m_progress;
    connect(progress, &QProgressBar::valueChanged, this,
            [this, progress](int value) { native_->setProgress(value, progress->maximum()); });
}

WindowsShell::WindowsShell(BenchWindow& bench) : native_(std::make_unique<Native>(bench))
{
    connect(&bench, &BenchWindow::runningChanged, this, [this](bool running) { native_->setRunning(running); });
    connect(&bench, &BenchWindow::holdingChanged, this, [this](bool holding) { native_->setHolding(holding); });
    connect(&bench, &BenchWindow::progressChanged, this,
            [this](int value, int maximum) { native_->setProgress(value, maximum); });
}

WindowsShell::~WindowsShell() = default;

std::filesystem::path documentsFolder()
{
    PWSTR folder = nullptr;
    std::filesystem::path documents;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &folder)))
        documents = folder;
    CoTaskMemFree(folder);
    return documents;
}

} // namespace fieldkit::app
