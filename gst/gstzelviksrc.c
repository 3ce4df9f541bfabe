/* zelviksrc: a live GStreamer source of Zelvik Q77RX frames, over the library's public C interface.
 *
 * Frame hand-over without a copy of our own: the library copies each processed frame into a buffer we
 * give it (Zelvik_CallBackPreview) and then posts a frame message to a message queue. When a message is
 * waiting, we give the library the next buffer together with the other of two queues. That change is made
 * under the library's delivery lock, so once the call returns the library never touches the previous
 * buffer again, and every message of the previous queue belongs to it: the buffer holds the newest of
 * their frames, whole, and goes downstream as it is. Buffers come from a pool, so their memory is reused
 * once downstream releases them.
 *
 * Every buffer carries the library's facts of the frame in it: its offset is the frame's number in the
 * stream, its timestamp the moment the library's read of it finished, and frames lost before it (by the
 * library, or passed over here while downstream was busy) mark it as a discontinuity, with a QoS message
 * and a gap event, as live sources report what they drop. */
#ifdef HAVE_CONFIG_H
#include "config.h"
#endif

#include "gstzelviksrc.h"
#include "gstzelvikdeviceprovider.h"

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <ZelvikSdk.h>

GST_DEBUG_CATEGORY_STATIC(zelvik_src_debug);
#define GST_CAT_DEFAULT zelvik_src_debug

#define FORMATS "{ BGR, BGRx, GRAY8, GRAY16_LE }"
/* Preferred first: the camera is a colour camera. */
static const char* const kFormatOrder[] = {"BGR", "BGRx", "GRAY8", "GRAY16_LE"};
/* The sensor's mosaic as the library reads it (8 bits; GStreamer 1.22 names no deeper Bayer format), named
 * by the colours of the frame's first two pixels and the two below them, by the library's Bayer mode
 * (bit 0 the row phase, bit 1 the column phase of the first pixel). */
#define BAYER_FORMATS "{ bggr, gbrg, grbg, rggb }"
static const char* const kBayerOfMode[] = {"gbrg", "rggb", "bggr", "grbg"};

enum {
    PROP_0,
    PROP_CAMERA,
    PROP_SERIAL,
    PROP_EXPOSURE,
    PROP_GAIN,
    PROP_GAMMA,
    PROP_WB_RED,
    PROP_WB_GREEN,
    PROP_WB_BLUE,
    PROP_ROI_X,
    PROP_ROI_Y,
    PROP_ROI_WIDTH,
    PROP_ROI_HEIGHT,
    PROP_SUBSAMPLE,
    PROP_TIMEOUT,
    PROP_GRAY_MODE,
    PROP_STATS,
    PROP_STORE_SETTINGS,
};

/* The library's filter values the properties set, found by name in its table at class initialisation:
 * their indexes and ranges are the library's. */
typedef struct {
    const char* name; /* of the library's property exports: Zelvik_Set<name> */
    ZelvikFilterInfo info;
} Filter;
enum {
    FILTER_WB_RED,
    FILTER_WB_GREEN,
    FILTER_WB_BLUE,
    FILTER_GAMMA,
    FILTER_GAIN,
    FILTER_EXPOSURE,
    FILTER_GRAY_MODE,
    FILTER_BAYER_MODE
};
static Filter filters[] = {{"BayerGainRed", {0}}, {"BayerGainGreen", {0}}, {"BayerGainBlue", {0}}, {"Gamma", {0}},
                           {"GlobalGain", {0}},   {"ExposureTime", {0}},   {"GrayMode", {0}},      {"BayerMode", {0}}};
static ZelvikSensorInfo sensor;

static void read_library_tables(void) {
    for (size_t f = 0; f < G_N_ELEMENTS(filters); ++f) {
        ZelvikFilterInfo info = {sizeof info, 0, 0, 0, 0, NULL, NULL};
        for (int index = 1; ZelvikLib_FilterInfo(index, &info); ++index) {
            if (strcmp(info.name, filters[f].name) == 0) {
                filters[f].info = info;
                break;
            }
        }
        if (filters[f].info.index == 0) g_error("zelviksrc: the camera library has no filter value %s", filters[f].name);
    }
    sensor.size = sizeof sensor;
    if (!ZelvikLib_SensorInfo(&sensor)) g_error("zelviksrc: the camera library does not describe its sensor");
}

/* The library's gray modes of the 8-bit frame: the sensor's mosaic as read, the mosaic with per-site gains,
 * or luminance from the demosaiced colour picture. */
#define GRAY_MODE_BAYER 0
#define GRAY_MODE_LUMINANCE 2
static GType gray_mode_type(void) {
    static GType type = 0;
    static const GEnumValue values[] = {{0, "The sensor's colour mosaic as read", "bayer"},
                                        {1, "The mosaic with per-site gains", "site-gains"},
                                        {2, "Luminance of the colour picture", "luminance"},
                                        {0, NULL, NULL}};
    if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("GstZelvikSrcGrayMode", values));
    return type;
}

/* Every size from the sensor's smallest window to the whole sensor. */
static GstPadTemplate* src_template(void) {
    gchar* text = g_strdup_printf("video/x-raw, format = (string) " FORMATS ", width = (int) [ %d, %d ], "
                                  "height = (int) [ %d, %d ], framerate = (fraction) [ 0/1, MAX ]; "
                                  "video/x-bayer, format = (string) " BAYER_FORMATS ", width = (int) [ %d, %d ], "
                                  "height = (int) [ %d, %d ], framerate = (fraction) [ 0/1, MAX ]",
                                  sensor.minWidth, sensor.width, sensor.minHeight, sensor.height, sensor.minWidth,
                                  sensor.width, sensor.minHeight, sensor.height);
    GstCaps* caps = gst_caps_from_string(text);
    GstPadTemplate* pad = gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps);
    gst_caps_unref(caps);
    g_free(text);
    return pad;
}

G_DEFINE_TYPE(GstZelvikSrc, gst_zelvik_src, GST_TYPE_PUSH_SRC);

/* ---- the camera ---- */

/* The newest error code other than 0 on the handle's stack, which is emptied. Code 0 is reported by every
 * processed frame while automatic exposure is off, so it never names a failure. */
static int pop_error(int handle) {
    int found = 0;
    for (int i = 0; i < 20; ++i) {
        const int code = Zelvik_GetLastError(handle);
        if (code != 0 && found == 0) found = code;
    }
    return found;
}

static int bits_of_format(GstVideoFormat format) {
    switch (format) {
        case GST_VIDEO_FORMAT_GRAY8: return 8;
        case GST_VIDEO_FORMAT_GRAY16_LE: return 16;
        case GST_VIDEO_FORMAT_BGR: return 24;
        case GST_VIDEO_FORMAT_BGRx: return 32;
        default: return 0;
    }
}

/* Sends one setting that was given as a property (a negative value leaves the camera's own). Called
 * without the object lock, which posting a warning takes; the library serialises calls on one handle. */
static void apply_filter(GstZelvikSrc* self, int filter, int value, const char* name) {
    if (self->handle == 0 || value < 0) return;
    if (!Zelvik_SetFilterValue(self->handle, filters[filter].info.index, value))
        GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS, ("The camera refused %s %d.", name, value),
                            ("error %d", pop_error(self->handle)));
}

static int percent(double factor) { return factor < 0 ? -1 : (int)(factor * 100 + 0.5); }

static void apply_settings(GstZelvikSrc* self) {
    apply_filter(self, FILTER_EXPOSURE, self->exposure, "exposure");
    apply_filter(self, FILTER_GAIN, self->gain, "gain");
    apply_filter(self, FILTER_GAMMA, percent(self->gamma), "gamma");
    apply_filter(self, FILTER_WB_RED, percent(self->wb[0]), "white balance red");
    apply_filter(self, FILTER_WB_GREEN, percent(self->wb[1]), "white balance green");
    apply_filter(self, FILTER_WB_BLUE, percent(self->wb[2]), "white balance blue");
    /* The mosaic is the 8-bit frame in the library's gray mode that leaves it as read. */
    apply_filter(self, FILTER_GRAY_MODE, self->bayer ? GRAY_MODE_BAYER : self->gray_mode, "gray mode");
}

/* A pipeline's properties are its own: the values the library stores when the handle is released (the
 * filter values; the element sets no mirror or automatic control) are read when the camera opens and
 * written back before it is released, unless store-settings asks for the library's own behaviour. The
 * packed Bayer gains are the three gains again and are left out. */
static void remember_stored_settings(GstZelvikSrc* self, int handle) {
    ZelvikFilterInfo info = {sizeof info, 0, 0, 0, 0, NULL, NULL};
    for (int index = 1; index < MAX_FILTER_VALUES && ZelvikLib_FilterInfo(index, &info); ++index) {
        int ok = 0;
        self->opened_with[index] = Zelvik_GetFilterValue(handle, index, &ok);
        self->opened_known[index] = ok && strcmp(info.name, "BayerGainRGB") != 0;
    }
}

/* The global gain first (it sets the four colour gains), the Bayer mode last; only what differs. */
static void restore_stored_settings(GstZelvikSrc* self, int handle) {
    const int gain = filters[FILTER_GAIN].info.index;
    int bayer_mode = 0;
    ZelvikFilterInfo info = {sizeof info, 0, 0, 0, 0, NULL, NULL};
    for (int index = 1; index < MAX_FILTER_VALUES && ZelvikLib_FilterInfo(index, &info); ++index)
        if (strcmp(info.name, "BayerMode") == 0) bayer_mode = index;
    int order[MAX_FILTER_VALUES];
    int n = 0;
    order[n++] = gain;
    for (int index = 1; index < MAX_FILTER_VALUES; ++index)
        if (index != gain && index != bayer_mode) order[n++] = index;
    order[n++] = bayer_mode;
    for (int i = 0; i < n; ++i) {
        const int index = order[i];
        int ok = 0;
        if (index <= 0 || !self->opened_known[index]) continue;
        if (Zelvik_GetFilterValue(handle, index, &ok) != self->opened_with[index] && ok)
            Zelvik_SetFilterValue(handle, index, self->opened_with[index]);
    }
    pop_error(handle);
}

/* The window and subsampling properties, sent when the camera opens. */
static gboolean apply_geometry(GstZelvikSrc* self) {
    const int width = self->roi_width > 0 ? self->roi_width : sensor.width - self->roi_x;
    const int height = self->roi_height > 0 ? self->roi_height : sensor.height - self->roi_y;
    const int subsample = self->subsample == 4 ? 2 : self->subsample == 2 ? 1 : 0;
    const int factor = self->subsample;
    if (factor != 1 && factor != 2 && factor != 4) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("subsample %d is not 1, 2 or 4.", factor), (NULL));
        return FALSE;
    }
    /* The colour mosaic repeats every two pixels: a window that starts on an odd column or row, or with a
     * mirror on ends on one (the sensor then reads it from that end), begins on another colour than the
     * Bayer mode names and every colour comes out wrong. */
    if (self->roi_x % 2 != 0 || self->roi_y % 2 != 0 || width % 2 != 0 || height % 2 != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                          ("The window %d,%d %dx%d has an odd column, row, width or height: they must be even, "
                           "so that the window starts on the colour the Bayer mode names.",
                           self->roi_x, self->roi_y, width, height), (NULL));
        return FALSE;
    }
    /* The sensor delivers at least its smallest window; the caps say so too. */
    if (self->roi_x + width > sensor.width || self->roi_y + height > sensor.height ||
        width / factor < sensor.minWidth || height / factor < sensor.minHeight) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                          ("The window %d,%d %dx%d is not inside the %dx%d sensor, or gives frames smaller than "
                           "%dx%d at subsampling %d.", self->roi_x, self->roi_y, width, height, sensor.width,
                           sensor.height, sensor.minWidth, sensor.minHeight, factor), (NULL));
        return FALSE;
    }
    if (!Zelvik_SetSubSample(self->handle, subsample) ||
        !Zelvik_SetCaptureWindowEx(self->handle, sensor.width, self->roi_x, width, sensor.height, self->roi_y, height)) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("The camera refused the window."),
                          ("error %d", pop_error(self->handle)));
        return FALSE;
    }
    self->width = width / factor;
    self->height = height / factor;
    return TRUE;
}

/* ---- GstBaseSrc ---- */

static gboolean gst_zelvik_src_start(GstBaseSrc* src) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    int handle = Zelvik_Initialize(0);
    if (handle == 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Out of memory opening the camera."), (NULL));
        return FALSE;
    }
    pop_error(handle); /* what opening reported (stored settings missing) does not stop it */
    GST_OBJECT_LOCK(self);
    gchar* serial = g_strdup(self->serial);
    GST_OBJECT_UNLOCK(self);
    const int selected = serial != NULL ? ZelvikCam_SelectSerial(handle, serial) : Zelvik_SetDeviceNumber(handle, self->camera);
    if (!selected) {
        if (serial != NULL)
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("Camera %s is not attached, or in use.", serial),
                              ("error %d", pop_error(handle)));
        else
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("Camera %d is not attached, or in use.", self->camera),
                              ("error %d", pop_error(handle)));
        g_free(serial);
        Zelvik_Release(handle);
        return FALSE;
    }
    g_free(serial);
    for (int i = 0; i < 2; ++i) self->queues[i] = ZelvikMsg_CreateQueue();
    self->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    remember_stored_settings(self, handle);
    GST_OBJECT_LOCK(self);
    self->handle = handle;
    GST_OBJECT_UNLOCK(self);
    apply_settings(self);
    if (self->queues[0] == 0 || self->queues[1] == 0 || self->wake < 0 || !apply_geometry(self)) {
        if (self->queues[0] == 0 || self->queues[1] == 0 || self->wake < 0)
            GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Out of resources opening the camera."), (NULL));
        GST_BASE_SRC_GET_CLASS(src)->stop(src);
        return FALSE;
    }
    self->current = 0;
    self->streaming = FALSE;
    self->frames = 0;
    self->skipped = 0;
    self->lost = 0;
    self->last_pts = GST_CLOCK_TIME_NONE;
    memset(&self->facts, 0, sizeof self->facts);
    return TRUE;
}

static void release_target(GstZelvikSrc* self) {
    if (self->target == NULL) return;
    gst_buffer_unmap(self->target, &self->target_map);
    gst_buffer_unref(self->target);
    self->target = NULL;
}

static gboolean gst_zelvik_src_stop(GstBaseSrc* src) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    GST_OBJECT_LOCK(self);
    const int handle = self->handle;
    self->handle = 0;
    GST_OBJECT_UNLOCK(self);
    if (handle != 0) {
        /* Once streaming has stopped the library holds none of our buffers. */
        Zelvik_StopPreview(handle);
        if (!self->store_settings) restore_stored_settings(self, handle);
        Zelvik_Release(handle);
    }
    release_target(self);
    if (self->pool != NULL) {
        gst_buffer_pool_set_active(self->pool, FALSE);
        gst_object_unref(self->pool);
        self->pool = NULL;
    }
    for (int i = 0; i < 2; ++i) {
        if (self->queues[i] != 0) ZelvikMsg_DestroyQueue(self->queues[i]);
        self->queues[i] = 0;
    }
    if (self->wake >= 0) close(self->wake);
    self->wake = -1;
    self->streaming = FALSE;
    return TRUE;
}

/* The Bayer format of the library's Bayer mode (the camera's stored one, or the one set on it). */
static const char* bayer_format(GstZelvikSrc* self) {
    int ok = 0;
    const int mode = Zelvik_GetFilterValue(self->handle, filters[FILTER_BAYER_MODE].info.index, &ok);
    return kBayerOfMode[ok && mode >= 0 && mode < 4 ? mode : 3];
}

/* The camera's window in every format; colour first, as the camera is a colour camera. Downstream caps
 * choose among them. */
static GstCaps* gst_zelvik_src_get_caps(GstBaseSrc* src, GstCaps* filter) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    GstCaps* caps;
    GST_OBJECT_LOCK(self);
    const int handle = self->handle;
    const int width = self->width, height = self->height;
    GST_OBJECT_UNLOCK(self);
    if (handle == 0) {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    } else {
        caps = gst_caps_new_empty();
        for (size_t i = 0; i < G_N_ELEMENTS(kFormatOrder); ++i) {
            gst_caps_append_structure(caps, gst_structure_new("video/x-raw", "format", G_TYPE_STRING, kFormatOrder[i],
                                                              "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                                                              height, "framerate", GST_TYPE_FRACTION, 0, 1, NULL));
        }
        /* Last: only a downstream that asks for the mosaic gets it. */
        gst_caps_append_structure(caps, gst_structure_new("video/x-bayer", "format", G_TYPE_STRING, bayer_format(self),
                                                          "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                                          "framerate", GST_TYPE_FRACTION, 0, 1, NULL));
    }
    if (filter != NULL) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

/* Of the formats downstream accepts, ours in our order: a downstream element that lists gray first still
 * gets colour when it takes both. */
static GstCaps* gst_zelvik_src_fixate(GstBaseSrc* src, GstCaps* caps) {
    for (size_t i = 0; i < G_N_ELEMENTS(kFormatOrder); ++i) {
        for (guint j = 0; j < gst_caps_get_size(caps); ++j) {
            GstStructure* structure = gst_caps_get_structure(caps, j);
            if (g_strcmp0(gst_structure_get_string(structure, "format"), kFormatOrder[i]) != 0) continue;
            GstCaps* chosen = gst_caps_new_full(gst_structure_copy(structure), NULL);
            gst_caps_unref(caps);
            return GST_BASE_SRC_CLASS(gst_zelvik_src_parent_class)->fixate(src, chosen);
        }
    }
    return GST_BASE_SRC_CLASS(gst_zelvik_src_parent_class)->fixate(src, caps);
}

static gboolean gst_zelvik_src_set_caps(GstBaseSrc* src, GstCaps* caps) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    GstVideoInfo info;
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const gboolean bayer = gst_structure_has_name(structure, "video/x-bayer");
    int bits = 8, width = 0, height = 0;
    if (bayer) {
        /* Rows padded to 4 bytes, as bayer2rgb reads them. */
        gst_video_info_init(&info);
        if (!gst_structure_get_int(structure, "width", &width) || !gst_structure_get_int(structure, "height", &height) ||
            g_strcmp0(gst_structure_get_string(structure, "format"), bayer_format(self)) != 0)
            return FALSE;
    } else {
        if (!gst_video_info_from_caps(&info, caps)) return FALSE;
        bits = bits_of_format(GST_VIDEO_INFO_FORMAT(&info));
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
    }
    if (bits == 0 || width != self->width || height != self->height) return FALSE;
    /* The library pads rows to 4 bytes, as GStreamer does for these formats. */
    const int stride = (self->width * (bits / 8) + 3) & ~3;
    if (!bayer && GST_VIDEO_INFO_PLANE_STRIDE(&info, 0) != stride) return FALSE;
    if (self->streaming) {
        /* A new colour mode takes effect at the next capture start. */
        Zelvik_StopPreview(self->handle);
        release_target(self);
        self->streaming = FALSE;
    }
    if (!Zelvik_SetColorMode(self->handle, bits)) return FALSE;
    self->bayer = bayer;
    apply_filter(self, FILTER_GRAY_MODE, bayer ? GRAY_MODE_BAYER : self->gray_mode, "gray mode");
    self->info = info;
    self->frame_size = (gsize)stride * self->height;
    return TRUE;
}

static gboolean gst_zelvik_src_decide_allocation(GstBaseSrc* src, GstQuery* query) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    GstCaps* caps = NULL;
    gst_query_parse_allocation(query, &caps, NULL);
    /* Our own pool of plain memory: the library writes rows at its own stride, so downstream pools with
     * other layouts are not used. */
    GstBufferPool* pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, self->frame_size, 2, 0);
    if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
        gst_object_unref(pool);
        return FALSE;
    }
    if (self->pool != NULL) {
        gst_buffer_pool_set_active(self->pool, FALSE);
        gst_object_unref(self->pool);
    }
    self->pool = pool;
    return TRUE;
}

/* The next buffer from the pool, mapped for the library to write into. */
static gboolean take_target(GstZelvikSrc* self, GstBuffer** buffer, GstMapInfo* map) {
    if (gst_buffer_pool_acquire_buffer(self->pool, buffer, NULL) != GST_FLOW_OK) return FALSE;
    if (!gst_buffer_map(*buffer, map, GST_MAP_WRITE)) {
        gst_buffer_unref(*buffer);
        return FALSE;
    }
    return TRUE;
}

static GstFlowReturn start_streaming(GstZelvikSrc* self) {
    if (!take_target(self, &self->target, &self->target_map)) return GST_FLOW_FLUSHING;
    self->current = 0;
    if (!Zelvik_CallBackPreview(self->handle, self->queues[0], self->target_map.data, (int)self->frame_size, 1)) {
        const int code = pop_error(self->handle);
        release_target(self);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The camera did not start streaming."), ("error %d", code));
        return GST_FLOW_ERROR;
    }
    self->streaming = TRUE;
    return GST_FLOW_OK;
}

/* The running time at which the library's read of a frame finished: its CLOCK_MONOTONIC arrival on the
 * pipeline's clock (the same time on the system clock that GStreamer runs on by default). */
static GstClockTime arrival_running_time(GstZelvikSrc* self, int64_t arrival_ns) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (clock == NULL) return GST_CLOCK_TIME_NONE;
    GstClockTime at = (GstClockTime)arrival_ns;
    GstClockType type = GST_CLOCK_TYPE_REALTIME;
    if (GST_IS_SYSTEM_CLOCK(clock)) g_object_get(clock, "clock-type", &type, NULL);
    if (!GST_IS_SYSTEM_CLOCK(clock) || type != GST_CLOCK_TYPE_MONOTONIC) {
        /* Another clock: the frame's age taken from its time now. */
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t age = (int64_t)now.tv_sec * 1000000000 + now.tv_nsec - arrival_ns;
        const GstClockTime clock_now = gst_clock_get_time(clock);
        at = age > 0 && (GstClockTime)age < clock_now ? clock_now - (GstClockTime)age : clock_now;
    }
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    return at > base ? at - base : 0;
}

/* Frames lost between the buffer pushed before and the one of `facts`: what the library lost (its totals
 * say at which stage) and the frames it handed out that were passed over here. Posted as GStreamer sources
 * report what they drop: the buffer marked as a discontinuity, a QoS message with the stream's counts, and
 * a gap event over the time the lost frames would have filled. */
static void report_lost(GstZelvikSrc* self, GstBuffer* buffer, const ZelvikFrameFacts* facts) {
    const guint64 lost = facts->sequence - self->facts.sequence - 1;
    if (lost == 0) return;
    self->lost += lost;
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    GstClockTime start = GST_CLOCK_TIME_NONE, duration = GST_CLOCK_TIME_NONE;
    if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(self->last_pts) && pts > self->last_pts) {
        /* The lost frames lie between the two buffers, evenly as far as anyone knows. */
        const GstClockTime step = (pts - self->last_pts) / (lost + 1);
        start = self->last_pts + step;
        duration = pts - start;
    }
    GstMessage* qos = gst_message_new_qos(GST_OBJECT(self), TRUE, start, start, start, duration);
    gst_message_set_qos_stats(qos, GST_FORMAT_BUFFERS, self->frames, self->lost);
    gst_element_post_message(GST_ELEMENT(self), qos);
    /* A gap event follows a segment: there is one once a buffer went out. */
    if (self->frames > 0 && GST_CLOCK_TIME_IS_VALID(start))
        gst_pad_push_event(GST_BASE_SRC_PAD(self), gst_event_new_gap(start, duration));
}

/* Waits until the current queue has a message, the element is unlocked or the timeout passes. */
typedef enum { WAIT_MESSAGE, WAIT_UNLOCKED, WAIT_TIMEOUT } WaitResult;

static WaitResult wait_for_message(GstZelvikSrc* self, int timeoutMs) {
    struct pollfd fds[2] = {{ZelvikMsg_Fd(self->queues[self->current]), POLLIN, 0}, {self->wake, POLLIN, 0}};
    for (;;) {
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return WAIT_TIMEOUT;
        if (fds[1].revents != 0) return WAIT_UNLOCKED;
        return WAIT_MESSAGE;
    }
}

static GstFlowReturn gst_zelvik_src_create(GstPushSrc* push, GstBuffer** out) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(push);
    if (!self->streaming) {
        const GstFlowReturn started = start_streaming(self);
        if (started != GST_FLOW_OK) return started;
    }
    for (;;) {
        switch (wait_for_message(self, self->timeout_ms > 0 ? (int)self->timeout_ms : -1)) {
            case WAIT_UNLOCKED:
                return GST_FLOW_FLUSHING;
            case WAIT_TIMEOUT:
                GST_ELEMENT_ERROR(self, RESOURCE, READ, ("No frame from the camera within %u ms.", self->timeout_ms),
                                  (NULL));
                return GST_FLOW_ERROR;
            case WAIT_MESSAGE:
                break;
        }
        GstBuffer* next = NULL;
        GstMapInfo next_map;
        if (!take_target(self, &next, &next_map)) return GST_FLOW_FLUSHING;
        const int following = 1 - self->current;
        if (!Zelvik_CallBackPreview(self->handle, self->queues[following], next_map.data, (int)self->frame_size, 1)) {
            const int code = pop_error(self->handle);
            gst_buffer_unmap(next, &next_map);
            gst_buffer_unref(next);
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The camera stopped streaming."), ("error %d", code));
            return GST_FLOW_ERROR;
        }
        const ZELVIK_HWND queue = self->queues[self->current];
        self->current = following;
        GstBuffer* filled = self->target;
        GstMapInfo filled_map = self->target_map;
        self->target = next;
        self->target_map = next_map;

        int delivered = 0, failure = 0;
        ZelvikMessage message;
        while (ZelvikMsg_Get(queue, &message, 0) == 1) {
            if (message.message != MSG_CAMERA_FRAME) continue;
            if (message.lParam == 0) ++delivered;
            else if (message.lParam != ZELVIK_ERR_TRANSFER) failure = (int)message.lParam;
        }
        if (failure != 0 || delivered == 0) {
            gst_buffer_unmap(filled, &filled_map);
            gst_buffer_unref(filled);
            if (failure == ZELVIK_ERR_CAMERA_LOST) {
                GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The camera was lost."), ("error %d", failure));
                return GST_FLOW_ERROR;
            }
            if (failure != 0) {
                GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The camera could not deliver a frame."),
                                  ("error %d", failure));
                return GST_FLOW_ERROR;
            }
            continue; /* only frames that could not be read: wait for the next */
        }
        if (GST_VIDEO_INFO_FORMAT(&self->info) == GST_VIDEO_FORMAT_GRAY16_LE) {
            /* The library's 16-bit samples carry 10 bits; GRAY16 spans the full 16. */
            uint16_t* samples = (uint16_t*)filled_map.data;
            for (gsize i = 0; i < filled_map.size / 2; ++i) samples[i] = GUINT16_TO_LE(GUINT16_FROM_LE(samples[i]) << 6);
        }
        /* The library never writes this buffer again: the facts of its frame stay as they are. */
        ZelvikFrameFacts facts = {.size = sizeof facts};
        const gboolean known = ZelvikFrame_GetFacts(self->handle, filled_map.data, &facts) == 1 &&
                               facts.sequence > self->facts.sequence;
        gst_buffer_unmap(filled, &filled_map);
        GST_BUFFER_DTS(filled) = GST_CLOCK_TIME_NONE;
        if (known) {
            GST_BUFFER_PTS(filled) = arrival_running_time(self, facts.arrivalNs);
            GST_BUFFER_OFFSET(filled) = facts.sequence;
            GST_BUFFER_OFFSET_END(filled) = facts.sequence + 1;
            report_lost(self, filled, &facts);
            self->last_pts = GST_BUFFER_PTS(filled);
        }
        /* What the stats property reads, under the object lock. */
        GST_OBJECT_LOCK(self);
        if (known) self->facts = facts;
        self->frames++;
        self->skipped += (guint64)(delivered - 1);
        GST_OBJECT_UNLOCK(self);
        *out = filled;
        return GST_FLOW_OK;
    }
}

static gboolean gst_zelvik_src_unlock(GstBaseSrc* src) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    if (self->wake >= 0) {
        const uint64_t one = 1;
        if (write(self->wake, &one, sizeof one) < 0) GST_WARNING_OBJECT(self, "cannot wake the streaming thread");
    }
    if (self->pool != NULL) gst_buffer_pool_set_flushing(self->pool, TRUE);
    return TRUE;
}

static gboolean gst_zelvik_src_unlock_stop(GstBaseSrc* src) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(src);
    if (self->wake >= 0) {
        uint64_t count;
        if (read(self->wake, &count, sizeof count) < 0 && errno != EAGAIN)
            GST_WARNING_OBJECT(self, "cannot clear the wake-up");
    }
    if (self->pool != NULL) gst_buffer_pool_set_flushing(self->pool, FALSE);
    return TRUE;
}

/* ---- GObject ---- */

static void gst_zelvik_src_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case PROP_CAMERA: self->camera = g_value_get_int(value); break;
        case PROP_SERIAL:
            g_free(self->serial);
            self->serial = g_value_dup_string(value);
            break;
        case PROP_EXPOSURE: self->exposure = g_value_get_int(value); break;
        case PROP_GAIN: self->gain = g_value_get_int(value); break;
        case PROP_GAMMA: self->gamma = g_value_get_double(value); break;
        case PROP_WB_RED: self->wb[0] = g_value_get_double(value); break;
        case PROP_WB_GREEN: self->wb[1] = g_value_get_double(value); break;
        case PROP_WB_BLUE: self->wb[2] = g_value_get_double(value); break;
        case PROP_ROI_X: self->roi_x = g_value_get_int(value); break;
        case PROP_ROI_Y: self->roi_y = g_value_get_int(value); break;
        case PROP_ROI_WIDTH: self->roi_width = g_value_get_int(value); break;
        case PROP_ROI_HEIGHT: self->roi_height = g_value_get_int(value); break;
        case PROP_STORE_SETTINGS: self->store_settings = g_value_get_boolean(value); break;
        case PROP_SUBSAMPLE: {
            const int factor = g_value_get_int(value);
            /* Kept as given: the start refuses a factor other than 1, 2 or 4 with an error. */
            self->subsample = factor;
            break;
        }
        case PROP_TIMEOUT: self->timeout_ms = g_value_get_uint(value); break;
        case PROP_GRAY_MODE: self->gray_mode = g_value_get_enum(value); break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
    /* Sensor and image settings reach an open camera at once. */
    if (id == PROP_EXPOSURE || id == PROP_GAIN || id == PROP_GAMMA || id == PROP_WB_RED || id == PROP_WB_GREEN ||
        id == PROP_WB_BLUE || id == PROP_GRAY_MODE)
        apply_settings(self);
}

static int read_filter(GstZelvikSrc* self, int filter, int fallback) {
    int ok = 0;
    const int value = self->handle != 0 ? Zelvik_GetFilterValue(self->handle, filters[filter].info.index, &ok) : 0;
    return ok ? value : fallback;
}

static double read_factor(GstZelvikSrc* self, int filter, double fallback) {
    const int value = read_filter(self, filter, -1);
    return value >= 0 ? value / 100.0 : fallback;
}

/* The stream's totals: the library's, with the frames passed over here counted as not taken. */
static GstStructure* stream_stats(GstZelvikSrc* self) {
    ZelvikStreamStats stats = {.size = sizeof stats};
    if (self->handle == 0 || !ZelvikStream_GetStats(self->handle, &stats)) memset(&stats, 0, sizeof stats);
    return gst_structure_new("application/x-zelvik-stats", "frames-read", G_TYPE_UINT64, (guint64)stats.framesRead,
                             "frames-unread", G_TYPE_UINT64, (guint64)stats.framesUnread, "frames-overwritten",
                             G_TYPE_UINT64, (guint64)stats.framesOverwritten, "frames-dropped", G_TYPE_UINT64,
                             (guint64)stats.framesDropped, "frames-processed", G_TYPE_UINT64,
                             (guint64)stats.framesProcessed, "frames-not-taken", G_TYPE_UINT64,
                             (guint64)stats.framesNotTaken + self->skipped, "frames-pushed", G_TYPE_UINT64,
                             self->frames, "last-sequence", G_TYPE_UINT64, (guint64)self->facts.sequence, NULL);
}

static void gst_zelvik_src_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstZelvikSrc* self = GST_ZELVIK_SRC(object);
    GST_OBJECT_LOCK(self);
    /* An open camera answers with what it uses; a closed one with what was set. */
    switch (id) {
        case PROP_CAMERA: g_value_set_int(value, self->camera); break;
        case PROP_SERIAL: g_value_set_string(value, self->serial); break;
        case PROP_EXPOSURE: g_value_set_int(value, read_filter(self, FILTER_EXPOSURE, self->exposure)); break;
        case PROP_GAIN: g_value_set_int(value, read_filter(self, FILTER_GAIN, self->gain)); break;
        case PROP_GAMMA: g_value_set_double(value, read_factor(self, FILTER_GAMMA, self->gamma)); break;
        case PROP_WB_RED: g_value_set_double(value, read_factor(self, FILTER_WB_RED, self->wb[0])); break;
        case PROP_WB_GREEN: g_value_set_double(value, read_factor(self, FILTER_WB_GREEN, self->wb[1])); break;
        case PROP_WB_BLUE: g_value_set_double(value, read_factor(self, FILTER_WB_BLUE, self->wb[2])); break;
        case PROP_ROI_X: g_value_set_int(value, self->roi_x); break;
        case PROP_ROI_Y: g_value_set_int(value, self->roi_y); break;
        case PROP_ROI_WIDTH: g_value_set_int(value, self->roi_width); break;
        case PROP_ROI_HEIGHT: g_value_set_int(value, self->roi_height); break;
        case PROP_SUBSAMPLE: g_value_set_int(value, self->subsample); break;
        case PROP_TIMEOUT: g_value_set_uint(value, self->timeout_ms); break;
        case PROP_GRAY_MODE: g_value_set_enum(value, self->gray_mode); break;
        case PROP_STATS: g_value_take_boxed(value, stream_stats(self)); break;
        case PROP_STORE_SETTINGS: g_value_set_boolean(value, self->store_settings); break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_zelvik_src_finalize(GObject* object) {
    g_free(GST_ZELVIK_SRC(object)->serial);
    G_OBJECT_CLASS(gst_zelvik_src_parent_class)->finalize(object);
}

static void gst_zelvik_src_init(GstZelvikSrc* self) {
    self->exposure = -1;
    self->gain = -1;
    self->gamma = -1;
    self->wb[0] = self->wb[1] = self->wb[2] = -1;
    self->subsample = 1;
    self->timeout_ms = 10000;
    self->gray_mode = GRAY_MODE_LUMINANCE;
    self->wake = -1;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static void gst_zelvik_src_class_init(GstZelvikSrcClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    const GParamFlags rw = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
    const GParamFlags live = rw | GST_PARAM_MUTABLE_PLAYING;
    const GParamFlags at_start = rw | GST_PARAM_MUTABLE_READY;

    read_library_tables();
    object->set_property = gst_zelvik_src_set_property;
    object->get_property = gst_zelvik_src_get_property;
    object->finalize = gst_zelvik_src_finalize;
    g_object_class_install_property(object, PROP_CAMERA,
        g_param_spec_int("camera", "Camera", "Index of the camera (0 is the first attached)", 0, 9, 0, at_start));
    g_object_class_install_property(object, PROP_SERIAL,
        g_param_spec_string("serial", "Serial", "Serial of the camera (`zelvik list`); chooses it instead of camera",
                            NULL, at_start));
    g_object_class_install_property(object, PROP_EXPOSURE,
        g_param_spec_int("exposure", "Exposure", "Exposure in line periods (-1: the camera's stored value)", -1,
                         filters[FILTER_EXPOSURE].info.max, -1, live));
    g_object_class_install_property(object, PROP_GAIN,
        g_param_spec_int("gain", "Gain", "Global analog gain, 16 is unity (-1: the camera's stored value)", -1,
                         filters[FILTER_GAIN].info.max, -1, live));
    /* The factors are the library's percent values. */
    g_object_class_install_property(object, PROP_GAMMA,
        g_param_spec_double("gamma", "Gamma", "Gamma, 1.0 is linear (-1: the camera's stored value)", -1,
                            filters[FILTER_GAMMA].info.max / 100.0, -1, live));
    g_object_class_install_property(object, PROP_WB_RED,
        g_param_spec_double("white-balance-red", "White balance red",
                            "Red gain, 1.0 leaves it (-1: the camera's stored value)", -1,
                            filters[FILTER_WB_RED].info.max / 100.0, -1, live));
    g_object_class_install_property(object, PROP_WB_GREEN,
        g_param_spec_double("white-balance-green", "White balance green",
                            "Green gain, 1.0 leaves it (-1: the camera's stored value)", -1,
                            filters[FILTER_WB_GREEN].info.max / 100.0, -1, live));
    g_object_class_install_property(object, PROP_WB_BLUE,
        g_param_spec_double("white-balance-blue", "White balance blue",
                            "Blue gain, 1.0 leaves it (-1: the camera's stored value)", -1,
                            filters[FILTER_WB_BLUE].info.max / 100.0, -1, live));
    g_object_class_install_property(object, PROP_ROI_X,
        g_param_spec_int("roi-x", "Window left", "First sensor column of the window, even", 0,
                         sensor.width - sensor.minWidth, 0,
                         at_start));
    g_object_class_install_property(object, PROP_ROI_Y,
        g_param_spec_int("roi-y", "Window top", "First sensor row of the window, even", 0,
                         sensor.height - sensor.minHeight, 0, at_start));
    g_object_class_install_property(object, PROP_ROI_WIDTH,
        g_param_spec_int("roi-width", "Window width", "Window width in sensor columns, even (0: to the right edge)", 0,
                         sensor.width, 0, at_start));
    g_object_class_install_property(object, PROP_ROI_HEIGHT,
        g_param_spec_int("roi-height", "Window height", "Window height in sensor rows, even (0: to the bottom edge)", 0,
                         sensor.height, 0, at_start));
    g_object_class_install_property(object, PROP_SUBSAMPLE,
        g_param_spec_int("subsample", "Subsampling",
                         "Subsampling factor in both directions: 1, 2 or 4 (3 fails the start)", 1, 4, 1, at_start));
    g_object_class_install_property(object, PROP_STORE_SETTINGS,
        g_param_spec_boolean("store-settings", "Store settings",
                             "Keep the properties as every later program's stored settings (else the stored ones "
                             "are put back when the camera closes)", FALSE, at_start));
    g_object_class_install_property(object, PROP_TIMEOUT,
        g_param_spec_uint("timeout", "Timeout", "Error when no frame arrives for this long, in ms (0: wait forever)",
                          0, G_MAXUINT, 10000, rw));

    g_object_class_install_property(object, PROP_GRAY_MODE,
        g_param_spec_enum("gray-mode", "Gray mode", "What GRAY8 frames show (GRAY16_LE is always the mosaic)",
                          gray_mode_type(), GRAY_MODE_LUMINANCE, live));
    g_object_class_install_property(object, PROP_STATS,
        g_param_spec_boxed("stats", "Statistics",
                           "Where the frames of the stream went: frames-read, frames-unread (estimated), "
                           "frames-overwritten, frames-dropped, frames-processed, frames-not-taken (by no one, or "
                           "passed over here), frames-pushed, last-sequence",
                           GST_TYPE_STRUCTURE, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));

    gst_element_class_set_static_metadata(element, "Zelvik Q77RX camera source", "Source/Video",
                                          "Streams frames from a Zelvik Q77RX camera",
                                          "Zelvik Q77RX camera library");
    gst_element_class_add_pad_template(element, src_template());

    base->start = gst_zelvik_src_start;
    base->stop = gst_zelvik_src_stop;
    base->get_caps = gst_zelvik_src_get_caps;
    base->set_caps = gst_zelvik_src_set_caps;
    base->fixate = gst_zelvik_src_fixate;
    base->decide_allocation = gst_zelvik_src_decide_allocation;
    base->unlock = gst_zelvik_src_unlock;
    base->unlock_stop = gst_zelvik_src_unlock_stop;
    GST_PUSH_SRC_CLASS(klass)->create = gst_zelvik_src_create;
    GST_DEBUG_CATEGORY_INIT(zelvik_src_debug, "zelviksrc", 0, "Zelvik Q77RX camera source");
}

static gboolean plugin_init(GstPlugin* plugin) {
    return gst_element_register(plugin, "zelviksrc", GST_RANK_NONE, GST_TYPE_ZELVIK_SRC) &&
           gst_device_provider_register(plugin, "zelvikdeviceprovider", GST_RANK_PRIMARY,
                                        GST_TYPE_ZELVIK_DEVICE_PROVIDER);
}

#define PACKAGE "zelvik"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zelvik, "Zelvik Q77RX camera source", plugin_init,
                  ZELVIK_VERSION, "unknown", "zelvik-sdk", "zelvik-sdk")
