#pragma once

#include <QDBusAbstractAdaptor>
#include <QPointer>
#include <QString>

namespace ostrel::capture {

class ezVidCap;

// The D-Bus interface org.ostrel.Source: the capture control's source, read only, on the
// object that carries it (the automation root object). Forwards to the capture control.
class SourceAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ostrel.Source")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.ostrel.Source\">\n"
                "    <property name=\"State\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Description\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Width\" type=\"i\" access=\"read\"/>\n"
                "    <property name=\"Height\" type=\"i\" access=\"read\"/>\n"
                "    <property name=\"FramesPerSecond\" type=\"d\" access=\"read\"/>\n"
                "    <signal name=\"StateChanged\">\n"
                "      <arg name=\"State\" type=\"s\"/>\n"
                "      <arg name=\"Message\" type=\"s\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(QString State READ State)
    Q_PROPERTY(QString Description READ Description)
    Q_PROPERTY(int Width READ Width)
    Q_PROPERTY(int Height READ Height)
    Q_PROPERTY(double FramesPerSecond READ FramesPerSecond)

public:
    // Becomes a child of `carrier`, whose bus registration must export adaptors.
    SourceAdaptor(ezVidCap& capture, QObject* carrier);

    // D-Bus API
    QString State() const;
    QString Description() const;
    int Width() const;
    int Height() const;
    double FramesPerSecond() const;

Q_SIGNALS:
    // D-Bus API
    void StateChanged(const QString& State, const QString& Message);

private:
    QPointer<ezVidCap> capture_;
};

}  // namespace ostrel::capture
