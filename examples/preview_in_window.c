/* A live preview inside the application's own X11 window. The library draws the camera's picture into a
 * child window it creates at (10, 10), 640 x 480, and announces every frame with MSG_CAMERA_FRAME, which
 * arrives in this program's event loop as a ClientMessage of type ZELVIK_MESSAGE.
 *
 *   preview_in_window [FRAMES]   stops after FRAMES frames; without it, when the window is closed.
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <ZelvikSdk.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* data.l[1..2] carry wParam, data.l[3..4] lParam: low and high 32 bits. */
static uint64_t Join(long low, long high) { return (uint64_t)(uint32_t)low | (uint64_t)(uint32_t)high << 32; }

/* Prints the library's child window: where it sits and its title. */
static void DescribePreviewWindow(Display* display, Window parent) {
    Window root, unused, *children = NULL;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &unused, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes a;
        char* title = NULL;
        if (!XGetWindowAttributes(display, children[i], &a)) continue;
        XFetchName(display, children[i], &title);
        printf("preview window \"%s\" at (%d, %d), %d x %d\n", title ? title : "", a.x, a.y, a.width, a.height);
        if (title) XFree(title);
    }
    if (children) XFree(children);
}

int main(int argc, char** argv) {
    const long wanted = argc > 1 ? strtol(argv[1], NULL, 10) : 0;
    long frames = 0;
    int camera, running = 1;
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no X display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 660, 500, 0,
                                              BlackPixel(display, screen), WhitePixel(display, screen));
    Atom closeRequest = XInternAtom(display, "WM_DELETE_WINDOW", False);
    const Atom zelvikMessage = XInternAtom(display, "ZELVIK_MESSAGE", False);
    XStoreName(display, window, "Zelvik preview example");
    XSetWMProtocols(display, window, &closeRequest, 1);
    XMapWindow(display, window);
    XSync(display, False);

    camera = Zelvik_Initialize(window); /* errors arrive in the same loop, as MSG_CAMERA_ERROR */
    if (camera == 0) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    Zelvik_SetPreviewWindow(camera, window, 10, 10, 640, 480);
    /* No buffer: frames are announced, not copied. */
    if (!Zelvik_CallBackPreview(camera, window, NULL, 0, 1)) {
        fprintf(stderr, "preview failed with error %d\n", Zelvik_GetLastError(camera));
        Zelvik_Release(camera);
        XCloseDisplay(display);
        return 1;
    }

    while (running) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != ClientMessage) continue;
        if (event.xclient.message_type == zelvikMessage) {
            const long message = event.xclient.data.l[0];
            const uint64_t wParam = Join(event.xclient.data.l[1], event.xclient.data.l[2]);
            const int64_t lParam = (int64_t)Join(event.xclient.data.l[3], event.xclient.data.l[4]);
            if (message == MSG_CAMERA_FRAME && lParam == 0) {
                const ZelvikFrameInfo* info = (const ZelvikFrameInfo*)(uintptr_t)wParam;
                if (++frames == 1) DescribePreviewWindow(display, window);
                printf("frame %ld: %d x %d, %d bits, %.1f fps\n", frames, info->width, info->height,
                       info->bitsPerPixel, info->frameRate / 10.0);
                if (wanted > 0 && frames >= wanted) running = 0;
            } else if (lParam != ZELVIK_ERR_AUTO_IRIS_OFF) { /* code 0 comes with every frame: no auto exposure */
                printf("camera error %lld\n", (long long)lParam);
            }
        } else if ((Atom)event.xclient.data.l[0] == closeRequest) {
            running = 0;
        }
    }

    Zelvik_Close(camera); /* stops streaming, then removes the preview window */
    Zelvik_Release(camera);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    printf("%ld frames received\n", frames);
    return 0;
}
