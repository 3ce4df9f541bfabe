/* two_cameras.c - stream from two cameras at once: one handle per camera, each with its own frame queue.
 *
 *   two_cameras [FRAMES]      (default 20 frames from each camera)
 *
 * Exit status: 0 when both cameras delivered every frame, 1 when streaming failed, 3 when fewer than two
 * cameras were found. */
#include <ZelvikSdk.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>

struct Stream {
    int handle;
    ZELVIK_HWND frames;
    unsigned char* buffer;
    int received;
};

/* Opens camera `number` (0-based) at quarter size and starts streaming it into its own queue. */
static int Start(struct Stream* s, int number) {
    size_t size;
    s->frames = ZelvikMsg_CreateQueue();
    s->handle = Zelvik_Initialize(0);
    s->received = 0;
    s->buffer = NULL;
    if (s->handle == 0) return 0;
    while (Zelvik_GetLastError(s->handle) != 0) {
    }
    if (!Zelvik_SetDeviceNumber(s->handle, number)) return 0;
    Zelvik_SetSubSample(s->handle, 2);
    Zelvik_SetColorMode(s->handle, 8);
    size = (size_t)((Zelvik_Width(s->handle) / 4 + 3) & ~3) * (size_t)(Zelvik_Height(s->handle) / 4);
    s->buffer = malloc(size);
    return s->buffer != NULL && Zelvik_CallBackPreview(s->handle, s->frames, s->buffer, (int)size, 1) &&
           Zelvik_StartPreview(s->handle);
}

static void Stop(struct Stream* s) {
    if (s->handle) Zelvik_Release(s->handle); /* stops the stream first */
    ZelvikMsg_DestroyQueue(s->frames);
    free(s->buffer);
}

int main(int argc, char** argv) {
    const int frames = argc > 1 ? atoi(argv[1]) : 20;
    struct Stream streams[2];
    int status = 0, i;

    ZelvikMessage message;

    for (i = 0; i < 2; ++i) {
        if (!Start(&streams[i], i)) {
            const int code = streams[i].handle ? Zelvik_GetLastError(streams[i].handle) : 0;
            fprintf(stderr, "camera %d: %s (error %d)\n", i + 1,
                    code == ZELVIK_ERR_NO_CAMERA ? "not found" : "cannot stream", code);
            for (int j = 0; j <= i; ++j) Stop(&streams[j]);
            return code == ZELVIK_ERR_NO_CAMERA ? 3 : 1;
        }
    }
    while (streams[0].received < frames || streams[1].received < frames) {
        struct pollfd fds[2] = {{ZelvikMsg_Fd(streams[0].frames), POLLIN, 0},
                                {ZelvikMsg_Fd(streams[1].frames), POLLIN, 0}};
        if (poll(fds, 2, 5000) <= 0) {
            fprintf(stderr, "no frame for 5 s\n");
            status = 1;
            break;
        }
        for (i = 0; i < 2; ++i) {
            while (ZelvikMsg_Get(streams[i].frames, &message, 0) == 1)
                if (message.message == MSG_CAMERA_FRAME && message.wParam != 0) ++streams[i].received;
        }
    }
    for (i = 0; i < 2; ++i) {
        printf("camera %d: %d frame(s)\n", i + 1, streams[i].received);
        Stop(&streams[i]);
    }
    return status;
}
