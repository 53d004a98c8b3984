#include "CameraList.h"

#include "CaptureErrors.h"

namespace ostrel::capture {

CameraList CameraList::probe() {
    gst::ensureInitialised();
    CameraList list;
    gst::DeviceMonitorHandle monitor(gst_device_monitor_new(), gst::Ref::Take);
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    // Without start(), this probes the hardware once: no monitoring thread is left running.
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    for (GList* item = devices; item; item = item->next) {
        gst::DeviceHandle device(GST_DEVICE(item->data), gst::Ref::Take);
        gst::StringHandle name(gst_device_get_display_name(device.get()));
        list.names_.append(gst::text(name.get()));
        list.devices_.push_back(std::move(device));
    }
    g_list_free(devices);
    return list;
}

gst::ElementHandle CameraList::createSource(int n) const {
    gst::ElementHandle element;
    if (n >= 0 && n < count()) {
        element =
            gst::adoptFloating(gst_device_create_element(devices_[std::size_t(n)].get(), nullptr));
    }
    if (!element) {
        throw CaptureFailure(QStringLiteral("Could not open the camera \"%1\".").arg(name(n)));
    }
    return element;
}

}  // namespace ostrel::capture
