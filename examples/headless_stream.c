/* headless_stream.c - stream frames without a window: the library's messages arrive on two message
 * queues that the program waits on with poll(); every 10th frame is saved as a BMP file.
 *
 *   headless_stream [FRAMES [DIRECTORY]]      (default 30 frames, files in the current directory)
 *
 * Exit status: 0 when every frame arrived, 1 when streaming failed, 3 when no camera was found. */
#include <ZelvikSdk.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    const int frames = argc > 1 ? atoi(argv[1]) : 30;
    const char* directory = argc > 2 ? argv[2] : ".";
    ZELVIK_HWND errors = ZelvikMsg_CreateQueue(); /* MSG_CAMERA_ERROR: lParam is the error code */
    ZELVIK_HWND delivered = ZelvikMsg_CreateQueue(); /* MSG_CAMERA_FRAME: wParam is the ZelvikFrameInfo */
    int camera = Zelvik_Initialize(errors);
    int received = 0, saved = 0, saving = 1, status = 0;
    size_t size;
    unsigned char* buffer;
    ZelvikMessage message;

    if (camera == 0) return 1;
    while (Zelvik_GetLastError(camera) != 0) { /* start-up reports (a first run stores the defaults) */
    }
    /* Opening camera 0 explicitly tells "no camera" from everything else. */
    if (!Zelvik_SetDeviceNumber(camera, 0)) {
        fprintf(stderr, "no camera found (error %d: camera not present)\n", Zelvik_GetLastError(camera));
        Zelvik_Release(camera);
        return 3;
    }
    Zelvik_SetSubSample(camera, 1);
    Zelvik_SetColorMode(camera, 24);
    /* 24-bit rows are padded to 4 bytes; a subsample of 1 halves both sides. */
    size = (size_t)((Zelvik_Width(camera) / 2 * 3 + 3) & ~3) * (size_t)(Zelvik_Height(camera) / 2);
    buffer = malloc(size);
    while (ZelvikMsg_Get(errors, &message, 0) == 1) {
    }
    if (buffer == NULL || !Zelvik_CallBackPreview(camera, delivered, buffer, (int)size, 1) ||
        !Zelvik_StartPreview(camera)) {
        fprintf(stderr, "cannot stream (error %d)\n", Zelvik_GetLastError(camera));
        status = 1;
        goto done;
    }

    while (received < frames) {
        struct pollfd fds[2] = {{ZelvikMsg_Fd(delivered), POLLIN, 0}, {ZelvikMsg_Fd(errors), POLLIN, 0}};
        if (poll(fds, 2, 5000) <= 0) {
            fprintf(stderr, "no frame for 5 s\n");
            status = 1;
            break;
        }
        while (ZelvikMsg_Get(errors, &message, 0) == 1) {
            /* Code 0 (automatic exposure off) comes with every processed frame; it is no fault. */
            if (message.lParam != 0) fprintf(stderr, "camera error %ld\n", (long)message.lParam);
        }
        if (ZelvikMsg_Get(delivered, &message, 0) != 1) continue;
        if (message.wParam == 0) { /* a frame that failed: lParam is the error code */
            fprintf(stderr, "frame failed: error %ld\n", (long)message.lParam);
            if (message.lParam == ZELVIK_ERR_CAMERA_LOST) {
                status = 1;
                break;
            }
            continue;
        }
        ++received;
        if (received % 10 == 0) {
            const ZelvikFrameInfo* info = (const ZelvikFrameInfo*)message.wParam;
            printf("frame %d: %d x %d, %d bits, %.1f frames/s\n", received, info->width, info->height,
                   info->bitsPerPixel, info->frameRate / 10.0);
            if (saving) {
                char path[4096];
                snprintf(path, sizeof path, "%s/frame_%04d.bmp", directory, received);
                if (Zelvik_SaveImage(camera, path, ZELVIK_FORMAT_BMP)) {
                    ++saved;
                } else {
                    const int code = Zelvik_GetLastError(camera);
                    if (code == ZELVIK_ERR_NOT_ALLOWED) {
                        printf("saving images is not available in this library build (error 1): "
                               "frames are counted, not saved\n");
                    } else {
                        fprintf(stderr, "cannot save %s (error %d)\n", path, code);
                        status = 1;
                    }
                    saving = 0;
                }
            }
        }
    }
    Zelvik_StopPreview(camera);
    printf("%d frame(s) received, %d saved, %d message(s) dropped\n", received, saved, ZelvikMsg_Dropped(delivered));

done:
    Zelvik_Release(camera);
    free(buffer);
    ZelvikMsg_DestroyQueue(delivered);
    ZelvikMsg_DestroyQueue(errors);
    return status;
}
