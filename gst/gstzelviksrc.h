/* zelviksrc: a live GStreamer source of Zelvik Q77RX frames. */
#ifndef GST_ZELVIK_SRC_H
#define GST_ZELVIK_SRC_H

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <ZelvikSdk.h>

G_BEGIN_DECLS

#define GST_TYPE_ZELVIK_SRC (gst_zelvik_src_get_type())
G_DECLARE_FINAL_TYPE(GstZelvikSrc, gst_zelvik_src, GST, ZELVIK_SRC, GstPushSrc)

struct _GstZelvikSrc {
    GstPushSrc parent;

    /* properties (object lock); negative sensor and image values leave the camera's stored settings */
    int camera;
    gchar* serial; /* chooses the camera by its serial instead of its index when set */
    int exposure, gain;
    double gamma, wb[3];
    int roi_x, roi_y, roi_width, roi_height;
    int subsample; /* factor 1, 2 or 4 */
    int gray_mode; /* the library's gray mode for GRAY8 */
    guint timeout_ms;

    /* the open camera (handle under the object lock; the rest on the streaming thread) */
    int handle;
    int width, height; /* of the frames: the window after subsampling */
    GstVideoInfo info;
    gsize frame_size;
    ZELVIK_HWND queues[2]; /* frame messages of the buffer the library holds arrive in queues[current] */
    int current;
    int wake; /* eventfd that ends a wait in create on unlock */
    GstBufferPool* pool;
    GstBuffer* target; /* the buffer the library is writing frames into, mapped */
    GstMapInfo target_map;
    gboolean streaming;
    guint64 frames, skipped;
};

G_END_DECLS

#endif
