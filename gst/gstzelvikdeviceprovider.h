/* The Zelvik cameras as GStreamer devices: gst-device-monitor-1.0 Video/Source lists them, and device
 * monitors hear when one arrives or leaves. */
#ifndef GST_ZELVIK_DEVICE_PROVIDER_H
#define GST_ZELVIK_DEVICE_PROVIDER_H

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZELVIK_DEVICE_PROVIDER (gst_zelvik_device_provider_get_type())
G_DECLARE_FINAL_TYPE(GstZelvikDeviceProvider, gst_zelvik_device_provider, GST, ZELVIK_DEVICE_PROVIDER,
                     GstDeviceProvider)

#define GST_TYPE_ZELVIK_DEVICE (gst_zelvik_device_get_type())
G_DECLARE_FINAL_TYPE(GstZelvikDevice, gst_zelvik_device, GST, ZELVIK_DEVICE, GstDevice)

G_END_DECLS

#endif
