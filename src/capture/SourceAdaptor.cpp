#include "SourceAdaptor.h"

#include "ezVidCap.h"

namespace ostrel::capture {

SourceAdaptor::SourceAdaptor(ezVidCap& capture, QObject* carrier)
    : QDBusAbstractAdaptor(carrier), capture_(&capture) {
    connect(&capture, &ezVidCap::StateChanged, this, &SourceAdaptor::StateChanged);
}

QString SourceAdaptor::State() const {
    return capture_ ? capture_->State() : QString();
}

QString SourceAdaptor::Description() const {
    return capture_ ? capture_->Description() : QString();
}

int SourceAdaptor::Width() const {
    return capture_ ? capture_->Width() : 0;
}

int SourceAdaptor::Height() const {
    return capture_ ? capture_->Height() : 0;
}

double SourceAdaptor::FramesPerSecond() const {
    return capture_ ? capture_->FramesPerSecond() : 0.0;
}

}  // namespace ostrel::capture
