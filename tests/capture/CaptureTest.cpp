#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <vector>

#include "CaptureErrors.h"
#include "ezVidCap.h"
#include "support/DialogAnswers.h"

using ostrel::capture::CaptureFailure;
using ostrel::capture::ezVidCap;
namespace gst = ostrel::capture::gst;

namespace {

constexpr int kWaitMs = 4000;

// Waits for the next announced frame and takes it.
bool nextFrame(ezVidCap& capture, QImage& frame) {
    return QTest::qWaitFor([&] { return capture.CopyFrame(frame); }, kWaitMs);
}

// Waits for a frame that differs from `previous`: the picture moves.
bool pictureMoves(ezVidCap& capture, const QImage& previous) {
    return QTest::qWaitFor(
        [&] {
            QImage frame;
            return capture.CopyFrame(frame) && frame != previous;
        },
        kWaitMs);
}

// Runs `answer` on the next modal dialog, which must be the one named `name`.
void answerModal(DialogAnswers& answers, const QString& name, std::function<void(QDialog*)> answer) {
    answers.then([name, answer](QWidget* modal) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        ASSERT_TRUE(dialog && dialog->objectName() == name) << modal->objectName().toStdString();
        answer(dialog);
    });
}

// Four frames, each with its own pattern, 66 pixels wide: a BGR row of 198 bytes is padded to
// 200, so a copy that ignores the stride shows.
std::vector<QImage> makeFrames() {
    std::vector<QImage> frames;
    for (int k = 0; k < 4; ++k) {
        QImage frame(66, 50, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                frame.setPixel(x, y, qRgb((40 * k + 3 * x) & 255, (7 * y + 60 * k) & 255,
                                          (x * y + 90 * k) & 255));
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

// Encodes `frames` losslessly (FFV1 in Matroska, 10 frames per second) with GStreamer.
void writeLosslessVideo(const QString& path, const std::vector<QImage>& frames) {
    gst::ensureInitialised();
    const QString line =
        QStringLiteral(
            "appsrc name=in format=time caps=video/x-raw,format=BGRx,width=%1,height=%2,"
            "framerate=10/1 ! videoconvert ! avenc_ffv1 ! matroskamux ! filesink location=\"%3\"")
            .arg(frames.front().width())
            .arg(frames.front().height())
            .arg(path);
    GError* error = nullptr;
    gst::ElementHandle pipeline =
        gst::adoptFloating(gst_parse_launch(line.toUtf8().constData(), &error));
    gst::ErrorHandle owned(error);
    ASSERT_TRUE(pipeline && !owned) << (owned ? owned->message : "");
    gst::ElementHandle source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"), gst::Ref::Take);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const QImage& frame = frames[i];
        GstBuffer* buffer = gst_buffer_new_memdup(frame.constBits(), gsize(frame.sizeInBytes()));
        GST_BUFFER_PTS(buffer) = i * GST_SECOND / 10;
        GST_BUFFER_DURATION(buffer) = GST_SECOND / 10;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer), GST_FLOW_OK);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
    gst::BusHandle bus(gst_element_get_bus(pipeline.get()), gst::Ref::Take);
    gst::MessageHandle done(
        gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)),
        gst::Ref::Take);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    ASSERT_TRUE(done);
    ASSERT_EQ(GST_MESSAGE_TYPE(done.get()), GST_MESSAGE_EOS);
}

int commandLineIndex(const ezVidCap& capture) { return capture.TestPatternIndex() + 1; }

}  // namespace

TEST(ezVidCap, TestPatternAfterTheCamerasDeliversMovingFramesAtThreeAndFourBytesPerPixel) {
    ezVidCap capture;
    EXPECT_EQ(capture.DriverName(capture.TestPatternIndex()), "Test pattern");
    EXPECT_THROW(capture.setDriverIndex(capture.DriverCount()), CaptureFailure);
    capture.setColRes(3);
    capture.setDriverIndex(capture.TestPatternIndex());
    EXPECT_EQ(QSize(capture.Width(), capture.Height()), QSize(320, 240));
    for (const auto& [colRes, format] :
         {std::pair(3, QImage::Format_BGR888), std::pair(4, QImage::Format_RGB32)}) {
        capture.setColRes(colRes);  // the running source goes on at the new depth
        EXPECT_EQ(capture.DriverIndex(), capture.TestPatternIndex());
        QImage frame;
        ASSERT_TRUE(nextFrame(capture, frame));
        EXPECT_EQ(frame.format(), format);
        EXPECT_EQ(frame.size(), QSize(320, 240));
        EXPECT_EQ(capture.display()->grab().toImage().convertToFormat(QImage::Format_RGB32),
                  frame.convertToFormat(QImage::Format_RGB32))
            << "the display paints the frame just handed over";
        QImage kept = frame;
        EXPECT_FALSE(capture.CopyFrame(kept)) << "a frame is handed over once";
        EXPECT_EQ(kept, frame) << "a refused hand-over leaves the target alone";
        EXPECT_TRUE(pictureMoves(capture, frame));
    }
}

TEST(ezVidCap, EncodedFilePlaysInALoopWithItsExactPixels) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<QImage> frames = makeFrames();
    const QString path = dir.filePath(QStringLiteral("four frames.mkv"));
    writeLosslessVideo(path, frames);

    ezVidCap capture;
    capture.setColRes(3);
    capture.setCommandLineSource(path);
    capture.setDriverIndex(commandLineIndex(capture));
    EXPECT_EQ(capture.Width(), 66);
    EXPECT_EQ(capture.Height(), 50);

    std::vector<int> shown;
    bool wrapped = false;
    QElapsedTimer clock;
    clock.start();
    while (!(wrapped && shown.size() >= 6) && clock.elapsed() < 3 * kWaitMs) {
        QImage frame;
        if (!nextFrame(capture, frame)) {
            break;
        }
        ASSERT_EQ(frame.format(), QImage::Format_BGR888);
        int index = -1;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            if (frame.convertToFormat(QImage::Format_RGB32) == frames[k]) {
                index = int(k);
            }
        }
        ASSERT_GE(index, 0) << "decoded frame " << shown.size() << " matches no encoded frame";
        wrapped = wrapped || (!shown.empty() && index < shown.back());
        shown.push_back(index);
    }
    EXPECT_TRUE(wrapped) << "the file starts again after its last frame";

    // The same file named by URI, at 4 bytes per pixel.
    ezVidCap byUri;
    byUri.setCommandLineSource(QUrl::fromLocalFile(path).toString());
    byUri.setDriverIndex(commandLineIndex(byUri));
    QImage frame;
    ASSERT_TRUE(nextFrame(byUri, frame));
    EXPECT_EQ(frame.format(), QImage::Format_RGB32);
    EXPECT_TRUE(std::find(frames.begin(), frames.end(), frame) != frames.end());
}

// A file cut short while it plays cannot loop any more: it counts as lost, and says so.
TEST(ezVidCap, FileTruncatedWhilePlayingIsLostNotSilent) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clip.mkv"));
    // Three seconds: several clusters, so the demuxer has to read the file again as it plays.
    std::vector<QImage> frames;
    while (frames.size() < 30) {
        for (const QImage& frame : makeFrames()) {
            frames.push_back(frame);
        }
    }
    writeLosslessVideo(path, frames);
    ezVidCap capture;
    capture.setCommandLineSource(path);
    capture.setDriverIndex(commandLineIndex(capture));
    QSignalSpy errors(&capture, &ezVidCap::CaptureError);
    QImage frame;
    ASSERT_TRUE(nextFrame(capture, frame));

    ASSERT_TRUE(QFile::resize(path, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.State() == QLatin1String("lost"); }, kWaitMs));
    EXPECT_EQ(errors.count(), 1);
}

TEST(ezVidCap, DriverThatCannotConnectThrowsReadablyAndThePreviousKeepsRunning) {
    QTemporaryDir dir;
    ezVidCap capture;
    capture.setDriverIndex(capture.TestPatternIndex());

    // Each source, and a text its failure must name.
    const std::pair<QString, QString> cases[] = {
        {dir.filePath(QStringLiteral("missing.mkv")), QString()},
        {QStringLiteral("videotestsrc ! nosuchelement"), QStringLiteral("nosuchelement")},
        {QStringLiteral("/dev/video-ostrel-missing"), QStringLiteral("/dev/video-ostrel-missing")},
    };
    for (const auto& [source, inText] : cases) {
        SCOPED_TRACE(source.toStdString());
        capture.setCommandLineSource(source);
        try {
            capture.setDriverIndex(commandLineIndex(capture));
            ADD_FAILURE() << "connected a source that does not exist";
        } catch (const CaptureFailure& failure) {
            const QString text = QString::fromStdString(failure.what());
            EXPECT_GT(text.size(), 5);
            EXPECT_TRUE(text.contains(inText)) << text.toStdString();
            EXPECT_NE(failure.code(), 0);
        }
        EXPECT_EQ(capture.DriverIndex(), capture.TestPatternIndex());
        EXPECT_EQ(capture.Width(), 320);
        QImage frame;
        EXPECT_TRUE(nextFrame(capture, frame)) << "the test pattern still runs";
    }
}

TEST(ezVidCap, StartupFallsBackToTheTestPatternAndReportsWhy) {
    QTemporaryDir dir;
    ezVidCap capture;
    capture.setCommandLineSource(dir.filePath(QStringLiteral("gone.avi")));
    QSignalSpy errors(&capture, &ezVidCap::CaptureError);

    capture.applyStartupOptions(3);
    ASSERT_EQ(errors.count(), 1);
    EXPECT_NE(errors.at(0).at(0).toInt(), 0);
    EXPECT_FALSE(errors.at(0).at(1).toString().isEmpty());
    EXPECT_EQ(capture.DriverIndex(), capture.TestPatternIndex());
    QImage frame;
    ASSERT_TRUE(nextFrame(capture, frame));
    EXPECT_EQ(frame.format(), QImage::Format_BGR888);

    ezVidCap working;
    working.setCommandLineSource(QStringLiteral("videotestsrc is-live=true"));
    EXPECT_EQ(working.DriverName(commandLineIndex(working)), "videotestsrc is-live=true");
    QSignalSpy noErrors(&working, &ezVidCap::CaptureError);
    working.applyStartupOptions(4);
    EXPECT_EQ(noErrors.count(), 0);
    EXPECT_EQ(working.DriverIndex(), commandLineIndex(working)) << "the last driver";
}

TEST(ezVidCap, SourceFailingWhileRunningIsReportedOnceAndKeepsItsLastFrame) {
    ezVidCap capture;
    // identity fails the stream after a few frames, as an unplugged camera would.
    capture.setCommandLineSource(
        QStringLiteral("videotestsrc is-live=true ! identity error-after=5"));
    QSignalSpy errors(&capture, &ezVidCap::CaptureError);
    capture.setDriverIndex(commandLineIndex(capture));

    ASSERT_TRUE(QTest::qWaitFor([&] { return errors.count() > 0; }, kWaitMs));
    EXPECT_NE(errors.at(0).at(0).toInt(), 0);
    EXPECT_FALSE(errors.at(0).at(1).toString().isEmpty());
    EXPECT_EQ(capture.Width(), 320) << "the last frame stays, and with it the frame size";
    EXPECT_EQ(capture.display()->size(), QSize(320, 240));
    QImage frame;
    capture.CopyFrame(frame);  // a frame announced before the failure may still be waiting
    EXPECT_FALSE(capture.CopyFrame(frame));

    capture.setDriverIndex(capture.TestPatternIndex());
    ASSERT_TRUE(nextFrame(capture, frame));
    ASSERT_TRUE(nextFrame(capture, frame));
    EXPECT_EQ(errors.count(), 1) << "one failure, one report";

    // The failed source can be chosen again.
    capture.setDriverIndex(commandLineIndex(capture));
    EXPECT_EQ(capture.DriverIndex(), commandLineIndex(capture));
    ASSERT_TRUE(QTest::qWaitFor([&] { return errors.count() > 1; }, kWaitMs));

    // Lost, it cannot be connected again: its picture and size stay.
    QTemporaryDir dir;
    capture.setCommandLineSource(dir.filePath(QStringLiteral("unplugged.mkv")));
    EXPECT_THROW(capture.setDriverIndex(commandLineIndex(capture)), CaptureFailure);
    EXPECT_EQ(QSize(capture.Width(), capture.Height()), QSize(320, 240));
}

TEST(ezVidCap, FormatDialogOffersTheSourceSizesAndAppliesTheChoice) {
    ezVidCap capture;
    capture.setDriverIndex(capture.TestPatternIndex());
    ASSERT_TRUE(capture.HasDlgFormat());
    const QList<QSize> offered = capture.OfferedSizes();
    for (const QSize& size : {QSize(160, 120), QSize(320, 240), QSize(640, 480)}) {
        EXPECT_TRUE(offered.contains(size)) << size.width() << "x" << size.height();
    }

    DialogAnswers answers;
    const auto choose = [&answers](QSize size, bool accept) {
        answerModal(answers, QStringLiteral("captureFormatDialog"), [size, accept](QDialog* dialog) {
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("frameSizes"));
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(list->currentItem()->data(Qt::UserRole).toSize(), QSize(320, 240))
                << "the size in use is selected";
            for (int row = 0; row < list->count(); ++row) {
                if (list->item(row)->data(Qt::UserRole).toSize() == size) {
                    list->setCurrentRow(row);
                }
            }
            accept ? dialog->accept() : dialog->reject();
        });
    };
    choose(QSize(160, 120), false);
    capture.ShowDlgFormat(nullptr);
    EXPECT_EQ(capture.Width(), 320) << "cancelled";

    choose(QSize(640, 480), true);
    capture.ShowDlgFormat(nullptr);
    EXPECT_EQ(capture.Width(), 640);
    EXPECT_EQ(capture.Height(), 480);
    EXPECT_EQ(capture.display()->size(), QSize(640, 480));
    QImage frame;
    ASSERT_TRUE(nextFrame(capture, frame));
    EXPECT_EQ(frame.size(), QSize(640, 480));
}

TEST(ezVidCap, SourceDialogAdjustsTheColourBalanceLive) {
    ezVidCap capture;
    capture.setDriverIndex(capture.TestPatternIndex());
    EXPECT_FALSE(capture.HasDlgSource()) << "the test pattern has no colour controls";

    capture.setCommandLineSource(QStringLiteral(
        "videotestsrc is-live=true pattern=solid-color foreground-color=0xff808080 ! "
        "videobalance"));
    capture.setDriverIndex(commandLineIndex(capture));
    ASSERT_TRUE(capture.HasDlgSource());
    const auto centreGreen = [&capture](int& green) {
        QImage frame;
        if (!capture.CopyFrame(frame)) {
            return false;
        }
        green = qGreen(frame.pixel(frame.width() / 2, frame.height() / 2));
        return true;
    };
    int green = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return centreGreen(green); }, kWaitMs));
    EXPECT_NEAR(green, 128, 8);

    // Brightest, accepted; then darkest, which shows at once, cancelled: back to the brightest.
    DialogAnswers answers;
    bool darkWhileOpen = false;
    for (const bool accept : {true, false}) {
        answerModal(answers, QStringLiteral("captureSourceDialog"), [&](QDialog* dialog) {
            auto* slider = dialog->findChild<QSlider*>(QStringLiteral("BRIGHTNESS"));
            ASSERT_NE(slider, nullptr);
            slider->setValue(accept ? slider->maximum() : slider->minimum());
            const auto dark = [&] { return centreGreen(green) && green < 16; };
            darkWhileOpen = accept || QTest::qWaitFor(dark, kWaitMs);
            accept ? dialog->accept() : dialog->reject();
        });
        capture.ShowDlgSource(nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return centreGreen(green) && green > 240; }, kWaitMs));
    }
    EXPECT_TRUE(darkWhileOpen) << "a slider acts at once";
}
