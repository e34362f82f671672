#include "app/bench_pane.h"

#include "app/resource.h"
#include "app/window_prompts.h"
#include "core/com_port.h"
#include "session/bench.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>

namespace fieldkit::app {
namespace {

constexpr const char* kNotReadYet = "-";
constexpr int kPermille = 1000;
constexpr int kMessageLines = 7;
// Wide enough for "Ready - Took 10 minutes and 59 seconds" and most messages' lines.
constexpr int kPaneColumns = 52;
constexpr int kDeviceColumns = 40;

// The advice of a failure ends in blank lines that a box needs and a pane does not.
std::string withoutBlankLinesAtTheEnd(const std::string& text)
{
    return text.substr(0, text.find_last_not_of('\n') + 1);
}

QLabel* addRow(QGridLayout* grid, int row, const char* name)
{
    grid->addWidget(new QLabel(QString::fromLatin1(name)), row, 0);
    auto* value = new QLabel(QString::fromLatin1(kNotReadYet));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(value, row, 1);
    return value;
}

} // namespace

BenchPane::BenchPane(int port, const std::string& device, QWidget* parent) : QGroupBox(parent)
{
    // "COM&1": Alt+1 takes the keyboard into the pane, to its message.
    const std::string name = comPortName(port);
    setTitle(QString::fromStdString(name.substr(0, 3) + "&" + name.substr(3)));
    setObjectName(QString::fromStdString(name));
    auto* grid = new QGridLayout(this);
    grid->setColumnStretch(1, 1);
    m_device = addRow(grid, 0, "Device");
    m_esn = addRow(grid, 1, "ESN");
    m_version = addRow(grid, 2, "Firmware");
    m_step = new QLabel;
    grid->addWidget(m_step, 3, 0, 1, 2);
    m_progress = new QProgressBar;
    m_progress->setTextVisible(false);
    grid->addWidget(m_progress, 4, 0, 1, 2);
    m_result = addRow(grid, 5, "Result");
    m_message = new QPlainTextEdit;
    m_message->setReadOnly(true);
    // Read only, and still selected and copied from the keyboard, to pass a message on.
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_message->setCursorWidth(0);
    m_message->setMinimumWidth(QFontMetrics(font()).averageCharWidth() * kPaneColumns);
    m_message->setFixedHeight(QFontMetrics(font()).lineSpacing() * kMessageLines + 2 * m_message->frameWidth() + 8);
    grid->addWidget(m_message, 6, 0, 1, 2);
    starting(device, IDS_IDLE_MESSAGE);
}

void BenchPane::starting(const std::string& device, const char* step)
{
    showDevice(device);
    m_esn->setText(QString::fromLatin1(kNotReadYet));
    m_version->setText(QString::fromLatin1(kNotReadYet));
    m_step->setText(QString::fromLatin1(step));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_result->setText(QString::fromLatin1(kNotReadYet));
    m_message->clear();
    m_ended = false;
}

// A device's path can be long (/dev/serial/by-id/usb-...): cut in the middle, whole in its tip,
// so the pane keeps its width.
void BenchPane::showDevice(const std::string& device)
{
    const QString whole = QString::fromStdString(device);
    const QFontMetrics metrics(m_device->font());
    m_device->setText(metrics.elidedText(whole, Qt::ElideMiddle, metrics.averageCharWidth() * kDeviceColumns));
    m_device->setToolTip(whole);
}

void BenchPane::show(const session::ProgressEvent& event)
{
    std::visit(session::EventHandlers{
                   [this](const session::StepEntered& step) { m_step->setText(QString::fromStdString(step.text)); },
                   [this](const session::ProgressBegun& begun) {
                       m_progress->setRange(0, static_cast<int>(begun.pageCount));
                       m_progress->setValue(0);
                   },
                   [this](const session::PageWritten& page) { m_progress->setValue(static_cast<int>(page.pagesDone)); },
                   [this](const session::BoardIdentified& board) {
                       if (!board.esnText.empty())
                           m_esn->setText(QString::fromStdString(board.esnText));
                       if (!board.versionText.empty())
                           m_version->setText(QString::fromStdString(board.versionText));
                   },
                   [this](const session::FinalText& final) { m_step->setText(QString::fromStdString(final.text)); },
                   [](const session::RunFinished&) {}},
               event);
}

void BenchPane::showMessage(const std::string& text)
{
    m_message->appendPlainText(QString::fromStdString(withoutBlankLinesAtTheEnd(text)));
    m_message->moveCursor(QTextCursor::Start);
}

void BenchPane::ended(const session::PortOutcome& outcome)
{
    m_ended = true;
    if (!outcome.device.empty())
        showDevice(outcome.device);
    const session::SummaryRow row = session::summaryRow(outcome);
    m_result->setText(QString::fromStdString(row.result + ", " + row.time));
    if (!outcome.started)
        m_step->setText(QStringLiteral("Not started"));
    if (outcome.result == flash::RunResult::Failure)
        showMessage(withHint(withoutBlankLinesAtTheEnd(outcome.report.message), outcome.failureHint));
}

int BenchPane::progressPermille() const
{
    if (m_ended)
        return kPermille;
    const int maximum = m_progress->maximum();
    return maximum > 0 ? static_cast<int>(static_cast<long long>(m_progress->value()) * kPermille / maximum) : 0;
}

} // namespace fieldkit::app
