#pragma once

#include <gst/gst.h>

#include <QString>
#include <memory>
#include <utility>

// Owning handles for GStreamer's reference-counted objects, and GStreamer's start-up.
namespace ostrel::capture::gst {

// Whether a handle takes over a reference its caller already owns, or adds one of its own.
enum class Ref { Take, Add };

// Owns one reference to a GStreamer object: released when the handle goes, added when copied.
template <typename T, T* (*RefFn)(T*), void (*UnrefFn)(T*)>
class Handle {
public:
    Handle() = default;
    Handle(T* object, Ref mode) : p_(object) {
        if (p_ && mode == Ref::Add) {
            RefFn(p_);
        }
    }
    Handle(const Handle& other) : Handle(other.p_, Ref::Add) {}
    Handle(Handle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Handle& operator=(Handle other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Handle() {
        if (p_) {
            UnrefFn(p_);
        }
    }

    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

namespace detail {
template <typename T>
T* objectRef(T* p) {
    return static_cast<T*>(gst_object_ref(p));
}
template <typename T>
void objectUnref(T* p) {
    gst_object_unref(p);
}
template <typename T>
T* miniObjectRef(T* p) {
    return reinterpret_cast<T*>(gst_mini_object_ref(GST_MINI_OBJECT_CAST(p)));
}
template <typename T>
void miniObjectUnref(T* p) {
    gst_mini_object_unref(GST_MINI_OBJECT_CAST(p));
}
}  // namespace detail

template <typename T>
using ObjectHandle = Handle<T, detail::objectRef<T>, detail::objectUnref<T>>;
template <typename T>
using MiniObjectHandle = Handle<T, detail::miniObjectRef<T>, detail::miniObjectUnref<T>>;

using ElementHandle = ObjectHandle<GstElement>;
using BusHandle = ObjectHandle<GstBus>;
using PadHandle = ObjectHandle<GstPad>;
using DeviceHandle = ObjectHandle<GstDevice>;
using DeviceMonitorHandle = ObjectHandle<GstDeviceMonitor>;
using CapsHandle = MiniObjectHandle<GstCaps>;
using SampleHandle = MiniObjectHandle<GstSample>;
using MessageHandle = MiniObjectHandle<GstMessage>;

// Elements fresh from a factory or the parser carry a floating reference: sink it, so the handle
// owns the element outright and a bin that adds it takes a reference of its own.
inline ElementHandle adoptFloating(GstElement* element) {
    return element ? ElementHandle(GST_ELEMENT(gst_object_ref_sink(element)), Ref::Take)
                   : ElementHandle();
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorHandle = std::unique_ptr<GError, ErrorFree>;

struct StringFree {
    void operator()(gchar* text) const { g_free(text); }
};
using StringHandle = std::unique_ptr<gchar, StringFree>;

// gst_init, once per process.
void ensureInitialised();

// A GLib string (UTF-8, maybe null) as a QString.
inline QString text(const gchar* utf8) {
    return QString::fromUtf8(utf8 ? utf8 : "");
}

}  // namespace ostrel::capture::gst
