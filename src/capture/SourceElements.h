#pragma once

#include <QString>

#include "GstHandles.h"

namespace ostrel::capture {

// A new element from `factory`; throws CaptureFailure when GStreamer lacks it.
gst::ElementHandle makeElement(const char* factory);

// The built-in test pattern: a ball moving over a black ground, live.
gst::ElementHandle makeTestPattern();

// The source element for a source named on the command line: a device path ("/dev/video0"), a
// file, a URI (file://, rtsp://, http://) or a GStreamer launch line ending in a video source.
// Its "src" pad gives video. Throws CaptureFailure with a readable message when it cannot be
// built.
gst::ElementHandle makeCommandLineSource(const QString& source);

}  // namespace ostrel::capture
