#pragma once

#include <deque>
#include <functional>
#include <ostream>

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

// Readable failure messages for the values the tests compare.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QColor& color, std::ostream* os) { *os << color.name().toStdString(); }

// How far `dialog` is from being centred over `owner`, in pixels.
inline int offCentre(const QWidget* dialog, const QWidget* owner) {
    return (dialog->frameGeometry().center() - owner->frameGeometry().center()).manhattanLength();
}

// Answers the dialogs and message boxes that the code under test opens, one queued answer per
// dialog, in order, from a timer (so it works from inside exec()). A dialog is the active modal
// one, or a message box shown without holding anyone. A dialog with no answer left is closed
// after two seconds and counted as a failure, so that a command that opens a dialog it should
// not fails the test instead of hanging it; an answer whose dialog never opened fails the test.
class DialogAnswers {
public:
    using Answer = std::function<void(QWidget* dialog)>;

    DialogAnswers() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    ~DialogAnswers() { EXPECT_EQ(pending_.size(), 0u) << "dialogs that never opened"; }

    DialogAnswers& then(Answer answer) {
        pending_.push_back(std::move(answer));
        return *this;
    }

    // What message boxes showed: every text in order, the title and icon of the last.
    struct Messages {
        QStringList texts;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };
    // A message box: notes it in `seen`, then presses OK.
    DialogAnswers& thenMessage(Messages& seen) {
        return then([&seen](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr) << "expected a message box, got " << w->windowTitle().toStdString();
            seen.texts << box->text();
            seen.title = box->windowTitle();
            seen.icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
    }

    // Clicks the push button called `name` in `dialog`.
    static void click(QWidget* dialog, const char* name) {
        auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }

private:
    // The active modal dialog, else a visible message box that holds nobody.
    static QWidget* openDialog() {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            return modal;
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(widget) && widget->isVisible()) {
                return widget;
            }
        }
        return nullptr;
    }

    void poll() {
        QWidget* modal = openDialog();
        if (modal == nullptr) {
            unexpected_.invalidate();
            return;
        }
        if (answering_) {
            return;  // an answer that waits runs the event loop, and with it this timer
        }
        if (!pending_.empty()) {
            const Answer answer = std::move(pending_.front());
            pending_.pop_front();
            answering_ = true;
            answer(modal);
            answering_ = false;
        } else if (!unexpected_.isValid()) {
            unexpected_.start();
        } else if (unexpected_.elapsed() > 2000) {
            ADD_FAILURE() << "unexpected dialog \"" << modal->windowTitle().toStdString() << "\"";
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            } else {
                modal->close();
            }
        }
    }

    QTimer timer_;
    std::deque<Answer> pending_;
    QElapsedTimer unexpected_;
    bool answering_ = false;
};
