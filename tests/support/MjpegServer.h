#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

// One JPEG picture of `width` × `height` made by GStreamer: videotestsrc's `pattern` (e.g.
// "black", "white", "snow") through jpegenc. Empty when GStreamer cannot make it.
inline QByteArray jpegPicture(const char* pattern, int width = 64, int height = 48) {
    gst_init(nullptr, nullptr);
    const QByteArray line = QByteArrayLiteral("videotestsrc num-buffers=1 pattern=") + pattern +
                            " ! video/x-raw,width=" + QByteArray::number(width) +
                            ",height=" + QByteArray::number(height) +
                            " ! jpegenc ! appsink name=out sync=false";
    GstElement* pipeline = gst_parse_launch(line.constData(), nullptr);
    if (pipeline == nullptr) {
        return {};
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    QByteArray jpeg;
    if (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            jpeg = QByteArray(reinterpret_cast<const char*>(map.data), qsizetype(map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return jpeg;
}

// An HTTP camera on 127.0.0.1 for tests: one MJPEG stream (multipart/x-mixed-replace) that sends
// the current picture `fps` times a second to every client. It can stop (connections closed,
// the port refused), stall (connections kept, nothing sent) and start again on the same port.
class MjpegServer {
public:
    explicit MjpegServer(int fps = 10) {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
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
    int connectionsAccepted() const { return accepted_; }

private:
    void accept() {
        while (QTcpSocket* client = server_.nextPendingConnection()) {
            ++accepted_;
            auto request = std::make_shared<QByteArray>();
            QObject::connect(client, &QTcpSocket::readyRead, client, [this, client, request] {
                // The request is read whole before the answer, as a camera does.
                *request += client->readAll();
                if (!request->contains("\r\n\r\n")) {
                    return;
                }
                request->clear();
                client->write(
                    "HTTP/1.0 200 OK\r\n"
                    "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n");
                clients_.append(client);
            });
        }
    }
    void sendFrame() {
        if (stalled_) {
            return;
        }
        const QByteArray part = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                QByteArray::number(picture_.size()) + "\r\n\r\n" + picture_ +
                                "\r\n";
        for (const QPointer<QTcpSocket>& client : clients_) {
            if (client && client->state() == QAbstractSocket::ConnectedState) {
                client->write(part);
            }
        }
    }

    QTcpServer server_;
    QTimer timer_;
    QList<QPointer<QTcpSocket>> clients_;
    QByteArray picture_;
    quint16 port_ = 0;
    int accepted_ = 0;
    bool stalled_ = false;
};
