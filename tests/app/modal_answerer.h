#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

namespace fieldkit::app {

// Answers modal boxes and dialogs as they appear, the way a user would, and records what
// they showed. Actions are used in order; a box with no action left is dismissed with its
// escape button and counted as unexpected.
class ModalAnswerer final : public QObject {
public:
    struct Box {
        QString caption;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };
    using Action = std::function<void(QWidget* modal)>;

    ModalAnswerer()
    {
        connect(&poll_, &QTimer::timeout, this, &ModalAnswerer::poll);
        poll_.start(2);
    }

    ModalAnswerer& then(Action action)
    {
        actions_.push_back(std::move(action));
        return *this;
    }
    ModalAnswerer& thenClick(QMessageBox::StandardButton button)
    {
        return then([button](QWidget* modal) { static_cast<QMessageBox*>(modal)->button(button)->click(); });
    }

    std::vector<Box> boxes;       // message boxes in the order they appeared
    std::vector<QString> dialogs; // captions of the other modal dialogs
    int unexpected = 0;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == handled_)
            return;
        handled_ = modal;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QPushButton* defaultButton = box->defaultButton();
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                             defaultButton != nullptr ? box->standardButton(defaultButton) : QMessageBox::NoButton});
        } else {
            dialogs.push_back(modal->windowTitle());
        }
        if (actions_.empty()) {
            ++unexpected;
            static_cast<QDialog*>(modal)->reject();
            return;
        }
        const Action action = std::move(actions_.front());
        actions_.pop_front();
        action(modal);
    }

    QTimer poll_;
    QPointer<QWidget> handled_;
    std::deque<Action> actions_;
};

} // namespace fieldkit::app
