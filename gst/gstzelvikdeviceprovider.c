/* The device provider: one GstDevice per attached camera, named by its serial, whose element is a
 * zelviksrc with that serial; arrivals and removals come from the library's watch. */
#include "gstzelvikdeviceprovider.h"

#include <ZelvikSdk.h>

struct _GstZelvikDevice {
    GstDevice parent;
    gchar* serial;
    int id; /* the library's id of the camera's identity */
};

G_DEFINE_TYPE(GstZelvikDevice, gst_zelvik_device, GST_TYPE_DEVICE);

static GstElement* gst_zelvik_device_create_element(GstDevice* device, const gchar* name) {
    GstElement* element = gst_element_factory_make("zelviksrc", name);
    if (element != NULL) g_object_set(element, "serial", GST_ZELVIK_DEVICE(device)->serial, NULL);
    return element;
}

static gboolean gst_zelvik_device_reconfigure_element(GstDevice* device, GstElement* element) {
    g_object_set(element, "serial", GST_ZELVIK_DEVICE(device)->serial, NULL);
    return TRUE;
}

static void gst_zelvik_device_finalize(GObject* object) {
    g_free(GST_ZELVIK_DEVICE(object)->serial);
    G_OBJECT_CLASS(gst_zelvik_device_parent_class)->finalize(object);
}

static void gst_zelvik_device_class_init(GstZelvikDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = gst_zelvik_device_create_element;
    GST_DEVICE_CLASS(klass)->reconfigure_element = gst_zelvik_device_reconfigure_element;
    G_OBJECT_CLASS(klass)->finalize = gst_zelvik_device_finalize;
}

static void gst_zelvik_device_init(GstZelvikDevice* self) { (void)self; }

/* A device for one camera: its caps are those zelviksrc offers (the whole sensor, every format). */
static GstDevice* device_of(const ZelvikCameraEntry* camera) {
    GstElement* probe = gst_element_factory_make("zelviksrc", NULL);
    GstCaps* caps = NULL;
    if (probe != NULL) {
        GstPad* pad = gst_element_get_static_pad(probe, "src");
        caps = pad != NULL ? gst_pad_query_caps(pad, NULL) : NULL;
        if (pad != NULL) gst_object_unref(pad);
        gst_object_unref(probe);
    }
    if (caps == NULL) caps = gst_caps_new_empty_simple("video/x-raw");
    gchar* display = g_strdup_printf("Zelvik Q77RX %s", camera->serial);
    GstStructure* properties = gst_structure_new("zelvik-camera", "serial", G_TYPE_STRING, camera->serial,
                                                 "identity", G_TYPE_STRING, camera->identity,
                                                 "device.api", G_TYPE_STRING, "zelvik", NULL);
    GstZelvikDevice* device = g_object_new(GST_TYPE_ZELVIK_DEVICE, "display-name", display, "device-class",
                                           "Video/Source", "caps", caps, "properties", properties, NULL);
    device->serial = g_strdup(camera->serial);
    device->id = camera->id;
    g_free(display);
    gst_caps_unref(caps);
    gst_structure_free(properties);
    return GST_DEVICE(device);
}

struct _GstZelvikDeviceProvider {
    GstDeviceProvider parent;
    GThread* thread;
    ZELVIK_HWND queue;
    volatile gint running;
};

G_DEFINE_TYPE(GstZelvikDeviceProvider, gst_zelvik_device_provider, GST_TYPE_DEVICE_PROVIDER);

static GList* gst_zelvik_device_provider_probe(GstDeviceProvider* provider) {
    (void)provider;
    ZelvikCameraEntry cameras[10];
    for (int i = 0; i < 10; ++i) cameras[i].size = sizeof cameras[i];
    const int count = ZelvikCam_List(0, cameras, 10);
    GList* devices = NULL;
    for (int i = 0; i < count && i < 10; ++i) devices = g_list_append(devices, device_of(&cameras[i]));
    return devices;
}

/* The watch's thread: each arrival becomes a device, each removal takes the camera's device away. */
static gpointer watch_cameras(gpointer data) {
    GstZelvikDeviceProvider* self = data;
    GstDeviceProvider* provider = GST_DEVICE_PROVIDER(self);
    while (g_atomic_int_get(&self->running)) {
        ZelvikMessage message;
        if (ZelvikMsg_Get(self->queue, &message, 200) != 1) continue;
        ZelvikCameraEntry camera;
        camera.size = sizeof camera;
        if (!ZelvikCam_Describe((int)message.wParam, &camera)) continue;
        if (message.message == MSG_CAMERA_ARRIVED) {
            gst_device_provider_device_add(provider, device_of(&camera));
        } else if (message.message == MSG_CAMERA_REMOVED) {
            GList* devices = gst_device_provider_get_devices(provider);
            for (GList* d = devices; d != NULL; d = d->next) {
                if (GST_IS_ZELVIK_DEVICE(d->data) && GST_ZELVIK_DEVICE(d->data)->id == camera.id)
                    gst_device_provider_device_remove(provider, GST_DEVICE(d->data));
            }
            g_list_free_full(devices, gst_object_unref);
        }
    }
    return NULL;
}

static gboolean gst_zelvik_device_provider_start(GstDeviceProvider* provider) {
    GstZelvikDeviceProvider* self = GST_ZELVIK_DEVICE_PROVIDER(provider);
    self->queue = ZelvikMsg_CreateQueue();
    if (self->queue == 0) return FALSE;
    /* Watching first, so that nothing falls between the list and the watch. */
    if (!ZelvikCam_Watch(self->queue)) {
        ZelvikMsg_DestroyQueue(self->queue);
        self->queue = 0;
        return FALSE;
    }
    GList* devices = gst_zelvik_device_provider_probe(provider);
    for (GList* d = devices; d != NULL; d = d->next) gst_device_provider_device_add(provider, d->data);
    g_list_free(devices);
    g_atomic_int_set(&self->running, 1);
    self->thread = g_thread_new("zelvik-watch", watch_cameras, self);
    return TRUE;
}

static void gst_zelvik_device_provider_stop(GstDeviceProvider* provider) {
    GstZelvikDeviceProvider* self = GST_ZELVIK_DEVICE_PROVIDER(provider);
    g_atomic_int_set(&self->running, 0);
    if (self->thread != NULL) g_thread_join(self->thread);
    self->thread = NULL;
    if (self->queue != 0) {
        ZelvikCam_Unwatch(self->queue);
        ZelvikMsg_DestroyQueue(self->queue);
    }
    self->queue = 0;
}

static void gst_zelvik_device_provider_class_init(GstZelvikDeviceProviderClass* klass) {
    GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = gst_zelvik_device_provider_probe;
    provider->start = gst_zelvik_device_provider_start;
    provider->stop = gst_zelvik_device_provider_stop;
    gst_device_provider_class_set_static_metadata(provider, "Zelvik Q77RX cameras", "Source/Video",
                                                  "Lists the Zelvik Q77RX cameras and their arrivals and removals",
                                                  "Zelvik Q77RX camera library");
}

static void gst_zelvik_device_provider_init(GstZelvikDeviceProvider* self) {
    self->thread = NULL;
    self->queue = 0;
    self->running = 0;
}
