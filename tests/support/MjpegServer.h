#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QHostAddress>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// One 64 × 48 JPEG picture of one colour (a name such as "black"), padded to `size` bytes with
// a comment when it is shorter.
inline QByteArray jpegPicture(const char* colour, int size = 0) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor::fromString(QLatin1String(colour)));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    const int padding = size - int(jpeg.size()) - 4;
    if (padding >= 0) {
        jpeg.insert(2, QByteArray("\xff\xfe", 2) + char((padding + 2) >> 8) +
                           char((padding + 2) & 0xff) + QByteArray(padding, '\0'));
    }
    return jpeg;
}

// An HTTP camera on 127.0.0.1 for tests: one MJPEG stream (multipart/x-mixed-replace) that sends
// the current picture `fps` times a second to every client. It can stop (connections closed,
// the port refused), stall (connections kept, nothing sent) and start again on the same port.
class MjpegServer {
public:
    explicit MjpegServer(int fps = 10) {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            // Answered at once: the client's request does not matter.
            while (QTcpSocket* client = server_.nextPendingConnection()) {
                client->write(
                    "HTTP/1.0 200 OK\r\n"
                    "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n");
                clients_.append(client);
            }
        });
        QObject::connect(&timer_, &QTimer::timeout, [this] { sendFrame(); });
        timer_.start(1000 / fps);
    }

    // Listens on `port` (0: a free one); false when it cannot.
    bool start(quint16 port = 0) {
        if (!server_.listen(QHostAddress::LocalHost, port)) {
            return false;
        }
        port_ = server_.serverPort();
        return true;
    }
    void stop() {
        server_.close();
        for (const QPointer<QTcpSocket>& client : clients_) {
            if (client) {
                client->abort();
                client->deleteLater();
            }
        }
        clients_.clear();
    }
    void setStalled(bool stalled) { stalled_ = stalled; }
    void show(const QByteArray& jpeg) { picture_ = jpeg; }

    quint16 port() const { return port_; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port_); }

private:
    void sendFrame() {
        const QByteArray part = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                QByteArray::number(picture_.size()) + "\r\n\r\n" + picture_ +
                                "\r\n";
        for (const QPointer<QTcpSocket>& client : clients_) {
            if (client && client->state() == QAbstractSocket::ConnectedState && !stalled_) {
                client->write(part);
            }
        }
    }

    QTcpServer server_;
    QTimer timer_;
    QList<QPointer<QTcpSocket>> clients_;
    QByteArray picture_;
    quint16 port_ = 0;
    bool stalled_ = false;
};
