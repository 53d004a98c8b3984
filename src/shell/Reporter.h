#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

namespace ostrel::shell {

// How serious a message is: the icon of its box, the level of its log line.
enum class Level { Info, Warning, Error };

// Where the program's messages go. With a screen, a message is a box titled "Ostrel" that holds
// nothing: the report returns at once, detection and calls go on, and a text whose box is still
// open raises that box instead of opening another. Headless, a message is a line on standard
// error with the instance's name and the level (with the journal's priority prefix when standard
// error is the journal).
class Reporter {
public:
    // Boxes open over `boxParent` (the main window).
    Reporter(bool headless, QString instanceName, QWidget* boxParent = nullptr);
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;
    ~Reporter();

    // A box with the level's icon (information, warning, critical), or a log line.
    void report(Level level, const QString& text);
    // The same with another icon, where a message has its own (none, for the capture's).
    void report(Level level, const QString& text, QMessageBox::Icon icon);
    // A message after which the program ends: a box with the critical icon that holds until it
    // is closed (nothing else is left to run), or an error line.
    void reportFatal(const QString& text);
    // A line on standard error in either mode, for what is no message to a person.
    void log(Level level, const QString& text) const;

    bool headless() const { return headless_; }
    const QString& instanceName() const { return instanceName_; }
    // The boxes open now, oldest first.
    QList<QMessageBox*> openBoxes() const;

private:
    bool headless_;
    QString instanceName_;
    QPointer<QWidget> boxParent_;
    bool toJournal_;
    QList<QPointer<QMessageBox>> boxes_;  // closed ones become null
};

}  // namespace ostrel::shell
