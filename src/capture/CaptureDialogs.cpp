#include "CaptureDialogs.h"

#include <gst/video/colorbalance.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace ostrel::capture {

namespace {

// Sizes offered for a source that can deliver any size in a range (the test pattern, a scaler).
const QList<QSize> kStandardSizes = {{160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}};

// Sizes found in a caps structure's width and height: fixed values, lists, or ranges (which get
// the standard sizes that fit).
void collectSizes(const GstStructure* structure, QList<QSize>& sizes) {
    const GValue* width = gst_structure_get_value(structure, "width");
    const GValue* height = gst_structure_get_value(structure, "height");
    if (!width || !height) {
        return;
    }
    if (G_VALUE_HOLDS_INT(width) && G_VALUE_HOLDS_INT(height)) {
        sizes.append(QSize(g_value_get_int(width), g_value_get_int(height)));
        return;
    }
    if (GST_VALUE_HOLDS_LIST(width) && GST_VALUE_HOLDS_LIST(height) &&
        gst_value_list_get_size(width) == gst_value_list_get_size(height)) {
        for (guint i = 0; i < gst_value_list_get_size(width); ++i) {
            const GValue* w = gst_value_list_get_value(width, i);
            const GValue* h = gst_value_list_get_value(height, i);
            if (G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
                sizes.append(QSize(g_value_get_int(w), g_value_get_int(h)));
            }
        }
        return;
    }
    const auto rangeOf = [](const GValue* value, int& low, int& high) {
        if (G_VALUE_HOLDS_INT(value)) {
            low = high = g_value_get_int(value);
            return true;
        }
        if (GST_VALUE_HOLDS_INT_RANGE(value)) {
            low = gst_value_get_int_range_min(value);
            high = gst_value_get_int_range_max(value);
            return true;
        }
        return false;
    };
    int wLow = 0, wHigh = 0, hLow = 0, hHigh = 0;
    if (rangeOf(width, wLow, wHigh) && rangeOf(height, hLow, hHigh)) {
        for (const QSize& size : kStandardSizes) {
            if (size.width() >= wLow && size.width() <= wHigh && size.height() >= hLow &&
                size.height() <= hHigh) {
                sizes.append(size);
            }
        }
    }
}

// Runs a modal dialog that its parent may destroy while it is open.
int execGuarded(QDialog* dialog) {
    QPointer<QDialog> guard(dialog);
    const int result = dialog->exec();
    return guard ? result : QDialog::Rejected;
}

QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

QList<QSize> frameSizesOffered(GstElement* source, QSize inUse) {
    QList<QSize> sizes;
    gst::PadHandle pad(source ? gst_element_get_static_pad(source, "src") : nullptr,
                       gst::Ref::Take);
    if (!pad) {
        return sizes;
    }
    gst::CapsHandle caps(gst_pad_query_caps(pad.get(), nullptr), gst::Ref::Take);
    if (!caps || gst_caps_is_any(caps.get())) {
        return sizes;
    }
    for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i) {
        collectSizes(gst_caps_get_structure(caps.get(), i), sizes);
    }
    // The size in use is always on offer, so the dialog can show it as chosen.
    if (inUse.isValid() && !inUse.isEmpty()) {
        sizes.append(inUse);
    }
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        const qint64 areaA = qint64(a.width()) * a.height();
        const qint64 areaB = qint64(b.width()) * b.height();
        return areaA != areaB ? areaA < areaB : a.width() < b.width();
    });
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

std::optional<QSize> chooseFrameSize(QWidget* parent, const QList<QSize>& sizes, QSize current) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("captureFormatDialog"));
    dialog->setWindowTitle(QStringLiteral("Video Format"));
    auto* list = new QListWidget(dialog);
    list->setObjectName(QStringLiteral("frameSizes"));
    for (const QSize& size : sizes) {
        const QString text = QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
        auto* item = new QListWidgetItem(text, list);
        item->setData(Qt::UserRole, size);
        if (size == current) {
            list->setCurrentItem(item);
        }
    }
    QObject::connect(list, &QListWidget::itemDoubleClicked, dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(QStringLiteral("Frame size:"), dialog));
    layout->addWidget(list);
    layout->addWidget(okCancel(dialog));

    QPointer<QDialog> guard(dialog);
    const bool accepted = execGuarded(dialog) == QDialog::Accepted;
    std::optional<QSize> chosen;
    if (accepted && guard && list->currentItem()) {
        chosen = list->currentItem()->data(Qt::UserRole).toSize();
    }
    delete guard.data();
    return chosen;
}

gst::ElementHandle colorBalanceOf(GstElement* source) {
    if (source == nullptr) {
        return {};
    }
    if (GST_IS_COLOR_BALANCE(source)) {
        return gst::ElementHandle(source, gst::Ref::Add);
    }
    if (GST_IS_BIN(source)) {
        return gst::ElementHandle(gst_bin_get_by_interface(GST_BIN(source), GST_TYPE_COLOR_BALANCE),
                                  gst::Ref::Take);
    }
    return {};
}

void adjustColorBalance(QWidget* parent, GstElement* balanceElement) {
    GstColorBalance* balance = GST_COLOR_BALANCE(balanceElement);
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("captureSourceDialog"));
    dialog->setWindowTitle(QStringLiteral("Video Source"));
    auto* form = new QFormLayout;
    struct Original {
        GstColorBalanceChannel* channel;
        int value;
    };
    std::vector<Original> originals;
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        const QString label = gst::text(channel->label);
        auto* slider = new QSlider(Qt::Horizontal, dialog);
        slider->setObjectName(label);
        slider->setRange(channel->min_value, channel->max_value);
        const int value = gst_color_balance_get_value(balance, channel);
        slider->setValue(value);
        originals.push_back({channel, value});
        // Applied at once, so the user sees the effect in the Video window while choosing.
        QObject::connect(slider, &QSlider::valueChanged, dialog, [balance, channel](int v) {
            gst_color_balance_set_value(balance, channel, v);
        });
        form->addRow(label, slider);
    }
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(okCancel(dialog));

    QPointer<QDialog> guard(dialog);
    if (execGuarded(dialog) != QDialog::Accepted) {
        for (const Original& original : originals) {
            gst_color_balance_set_value(balance, original.channel, original.value);
        }
    }
    delete guard.data();
}

}  // namespace ostrel::capture
