#pragma once

#include <QString>
#include <stdexcept>
#include <string>

namespace ostrel::capture {

// A capture driver could not be connected. `code` is the GStreamer error code behind it (never 0,
// so that the Video window always reports it); what() is GStreamer's own, readable message.
class CaptureFailure : public std::runtime_error {
public:
    explicit CaptureFailure(const std::string& message, int code = 1)
        : std::runtime_error(message), code_(code != 0 ? code : 1) {}
    explicit CaptureFailure(const QString& message, int code = 1)
        : CaptureFailure(message.toStdString(), code) {}

    int code() const noexcept { return code_; }
    QString text() const { return QString::fromStdString(what()); }

private:
    int code_;
};

// A connection was still being made when the program began to end.
class ConnectionInterrupted : public CaptureFailure {
public:
    using CaptureFailure::CaptureFailure;
};

}  // namespace ostrel::capture
