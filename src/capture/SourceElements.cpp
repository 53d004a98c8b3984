#include "SourceElements.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include "CaptureErrors.h"

namespace ostrel::capture {

namespace {

// The longest jitter buffer an RTSP camera gets: each event comes this much later.
constexpr guint kRtspLatencyMs = 200;

// GStreamer's parser takes property values in double quotes with backslash escapes.
QString quotedForLaunchLine(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

enum class SourceKind { Device, Uri, File, LaunchLine };

SourceKind classify(const QString& source) {
    static const QRegularExpression uriScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (source.startsWith(QStringLiteral("/dev/"))) {
        return SourceKind::Device;
    }
    if (QFileInfo::exists(source)) {
        return SourceKind::File;
    }
    if (source.contains(QLatin1Char('!'))) {
        return SourceKind::LaunchLine;
    }
    if (uriScheme.match(source).hasMatch()) {
        return SourceKind::Uri;
    }
    // A line that parses (a single element such as "videotestsrc pattern=snow") is a launch
    // line. Anything else that looks like a path is a file that is missing: the user then hears
    // "not found" rather than a parser's complaint about an element named like the file.
    GError* error = nullptr;
    gst::ElementHandle parsed = gst::adoptFloating(gst_parse_bin_from_description_full(
        source.toUtf8().constData(), TRUE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error));
    gst::ErrorHandle owned(error);
    if (parsed && !owned) {
        return SourceKind::LaunchLine;
    }
    static const QRegularExpression fileExtension(QStringLiteral("\\.\\w+$"));
    const bool looksLikePath =
        source.contains(QLatin1Char('/')) || source.startsWith(QLatin1Char('.')) ||
        (!source.contains(QLatin1Char('=')) && fileExtension.match(source).hasMatch());
    return looksLikePath ? SourceKind::File : SourceKind::LaunchLine;
}

// A source bin from a launch line. A videoconvert is put at its end and its output becomes the
// bin's "src" pad: that gives a line ending in an element with dynamic pads (uridecodebin,
// decodebin) a pad to link to. Unlinked pads are not ghosted wholesale, as that would take the
// videoconvert's input before the dynamic pad shows up.
gst::ElementHandle parseSourceBin(const QString& description) {
    const QString line = description + QStringLiteral(" ! videoconvert name=ostrel_output");
    GError* error = nullptr;
    gst::ElementHandle bin = gst::adoptFloating(gst_parse_bin_from_description_full(
        line.toUtf8().constData(), FALSE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error));
    gst::ErrorHandle owned(error);
    if (owned) {
        throw CaptureFailure(gst::text(owned->message), owned->code);
    }
    if (!bin) {
        throw CaptureFailure(QStringLiteral("Could not build \"%1\".").arg(description));
    }
    gst::ElementHandle output(gst_bin_get_by_name(GST_BIN(bin.get()), "ostrel_output"),
                              gst::Ref::Take);
    gst::PadHandle outputPad(output ? gst_element_get_static_pad(output.get(), "src") : nullptr,
                             gst::Ref::Take);
    if (!outputPad) {
        throw CaptureFailure(QStringLiteral("\"%1\" has no video output.").arg(description));
    }
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", outputPad.get()));
    return bin;
}

// Settings for live streams, made as the decoders put their elements in place.
void tuneForLiveStreams(GstBin*, GstBin*, GstElement* element, gpointer) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const gchar* name =
        factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
    if (g_strcmp0(name, "multipartdemux") == 0) {
        // An MJPEG camera sends one stream of pictures: its pad is complete at once, instead of
        // after the decoder's wait for further streams (10 s of data, or 2 MB).
        g_object_set(element, "single-stream", TRUE, nullptr);
    } else if (g_strcmp0(name, "rtspsrc") == 0) {
        guint latency = 0;
        g_object_get(element, "latency", &latency, nullptr);
        if (latency > kRtspLatencyMs) {
            g_object_set(element, "latency", kRtspLatencyMs, nullptr);
        }
    }
}

// HTTP is read as it comes, without the download buffer a URI decoder puts in front of a
// stream (which holds back the first frame of a slow MJPEG camera for minutes); every other URI
// goes through the URI decoder.
gst::ElementHandle uriSource(const QString& uri) {
    const QString scheme = QUrl(uri).scheme().toLower();
    const QString quoted = quotedForLaunchLine(uri);
    gst::ElementHandle bin =
        parseSourceBin(scheme == QLatin1String("http") || scheme == QLatin1String("https")
                           ? QStringLiteral("souphttpsrc location=%1 ! decodebin").arg(quoted)
                           : QStringLiteral("uridecodebin uri=%1").arg(quoted));
    g_signal_connect(bin.get(), "deep-element-added", G_CALLBACK(tuneForLiveStreams), nullptr);
    return bin;
}

}  // namespace

gst::ElementHandle makeElement(const char* factory) {
    gst::ElementHandle element = gst::adoptFloating(gst_element_factory_make(factory, nullptr));
    if (!element) {
        throw CaptureFailure(QStringLiteral("The GStreamer element \"%1\" is not installed.")
                                 .arg(QLatin1String(factory)));
    }
    return element;
}

gst::ElementHandle makeTestPattern() {
    // Live, so it runs at its frame rate and motion shows.
    return parseSourceBin(QStringLiteral("videotestsrc pattern=ball is-live=true"));
}

gst::ElementHandle makeCommandLineSource(const QString& source) {
    switch (classify(source)) {
        case SourceKind::Device: {
            gst::ElementHandle element = makeElement("v4l2src");
            g_object_set(element.get(), "device", source.toUtf8().constData(), nullptr);
            return element;
        }
        case SourceKind::Uri:
            return uriSource(source);
        case SourceKind::File: {
            gst::StringHandle uri(gst_filename_to_uri(source.toUtf8().constData(), nullptr));
            if (!uri) {
                throw CaptureFailure(
                    QStringLiteral("\"%1\" is not a usable file name.").arg(source));
            }
            return uriSource(gst::text(uri.get()));
        }
        case SourceKind::LaunchLine: {
            QString line = source.trimmed();
            if (line.endsWith(QLatin1Char('!'))) {
                line.chop(1);
            }
            return parseSourceBin(line);
        }
    }
    throw CaptureFailure(QStringLiteral("Unknown source."));
}

}  // namespace ostrel::capture
