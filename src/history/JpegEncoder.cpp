#include "JpegEncoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <string>

#include <QIODevice>

#include <jpeglib.h>

#include "HistoryError.h"

#ifndef JCS_EXTENSIONS
#error "the JPEG library must read 32-bit pixels itself (JCS_EXTENSIONS)"
#endif

namespace ostrel::history {

namespace {

// The byte order of a Format_RGB32 pixel in memory.
constexpr J_COLOR_SPACE kPixelLayout =
    Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;

// libjpeg reports a failure by calling error_exit, which must not return: it jumps back to
// compress() with the library's message.
struct ErrorExit {
    jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it leads to the rest
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jumpOut(j_common_ptr info) {
    auto* exit = reinterpret_cast<ErrorExit*>(info->err);
    info->err->format_message(info, exit->message);
    std::longjmp(exit->jump, 1);
}

// The compressed bytes go to the device a buffer at a time. A failed write is remembered and
// reported once the picture is done.
struct DeviceDestination {
    jpeg_destination_mgr manager;  // first, as above
    QIODevice* device;
    bool failed;
    JOCTET buffer[64 * 1024];

    static DeviceDestination* of(j_compress_ptr info) {
        return reinterpret_cast<DeviceDestination*>(info->dest);
    }
    void put(qint64 bytes) {
        failed = failed || device->write(reinterpret_cast<const char*>(buffer), bytes) != bytes;
        manager.next_output_byte = buffer;
        manager.free_in_buffer = sizeof buffer;
    }
    static void start(j_compress_ptr info) { of(info)->put(0); }
    static boolean empty(j_compress_ptr info) {
        of(info)->put(sizeof buffer);  // libjpeg hands over the whole buffer
        return TRUE;
    }
    static void finish(j_compress_ptr info) {
        DeviceDestination* d = of(info);
        d->put(qint64(sizeof buffer - d->manager.free_in_buffer));
    }
};

// Everything libjpeg may jump out of. No object with a destructor lives in this frame, so the
// jump skips none; the rows' source is only called between libjpeg's calls.
bool compress(jpeg_compress_struct& info, jpeg_destination_mgr* destination, int width, int height,
              int quality, const RowSource& rows) {
    auto* exit = reinterpret_cast<ErrorExit*>(info.err);
    if (setjmp(exit->jump) != 0) {
        return false;
    }
    jpeg_create_compress(&info);  // clears all but the error manager
    info.dest = destination;
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 4;
    info.in_color_space = kPixelLayout;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    JSAMPROW pointers[kJpegBandRows];
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        const int count = std::min(kJpegBandRows, height - y);
        const engine::PixelView band = rows(y, count);
        for (int i = 0; i < count; ++i) {
            // libjpeg only reads the rows it is given.
            pointers[i] = const_cast<JSAMPROW>(band.row(i));
        }
        jpeg_write_scanlines(&info, pointers, JDIMENSION(count));
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

void writeJpeg(QIODevice& out, int width, int height, int quality, const RowSource& rows) {
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        throw HistoryError(HistoryError::Cause::Other, "a picture of " + std::to_string(width) +
                                                           " × " + std::to_string(height) +
                                                           " pixels cannot be a JPEG");
    }
    ErrorExit exit{};
    auto destination = std::make_unique<DeviceDestination>();
    destination->manager.init_destination = DeviceDestination::start;
    destination->manager.empty_output_buffer = DeviceDestination::empty;
    destination->manager.term_destination = DeviceDestination::finish;
    destination->device = &out;
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&exit.manager);
    exit.manager.error_exit = jumpOut;
    // Frees what libjpeg holds however compress() ends: by a jump, or by an exception of the
    // rows' source.
    struct Release {
        jpeg_compress_struct& info;
        ~Release() { jpeg_destroy_compress(&info); }
    } release{info};
    if (!compress(info, &destination->manager, width, height, std::clamp(quality, 1, 100), rows)) {
        throw HistoryError(HistoryError::Cause::Other,
                           std::string("the JPEG encoder failed: ") + exit.message);
    }
    if (destination->failed) {
        throw HistoryError(HistoryError::Cause::Other, out.errorString().toStdString());
    }
}

}  // namespace ostrel::history
