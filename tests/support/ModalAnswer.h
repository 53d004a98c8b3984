#pragma once

#include <functional>

#include <QApplication>
#include <QTimer>
#include <QWidget>

// Answers the next modal dialog or message box: as soon as one is open, `answer` gets it (and
// should close it). Polls from the event loop, so it works from inside the dialog's exec().
inline void answerNextModal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer = std::move(answer)] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start();
}
