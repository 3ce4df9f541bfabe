/* zelviksrc: a live GStreamer source of Zelvik Q77RX frames. */
#ifndef GST_ZELVIK_SRC_H
#define GST_ZELVIK_SRC_H

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <ZelvikSdk.h>

G_BEGIN_DECLS

/* More than the library's highest filter-value index. */
#define MAX_FILTER_VALUES 64

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
    gboolean store_settings; /* keep the properties as the stored settings (the library's own behaviour) */
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
    /* the stored filter values the camera opened with, by index, put back before it is released */
    int opened_with[MAX_FILTER_VALUES];
    gboolean opened_known[MAX_FILTER_VALUES];
    gboolean streaming;
    gboolean bayer;   /* the caps are video/x-bayer: the 8-bit mosaic */
    /* written on the streaming thread; frames, skipped and facts under the object lock (the stats) */
    guint64 frames;         /* buffers pushed */
    guint64 skipped;        /* frames handed out by the library and passed over here */
    guint64 lost;           /* frames lost before the buffers pushed, at any stage */
    ZelvikFrameFacts facts; /* of the last buffer pushed */
    GstClockTime last_pts;
};

G_END_DECLS

#endif
