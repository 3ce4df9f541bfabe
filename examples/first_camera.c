/* first_camera.c - find the attached cameras, show the first one's identity and settings. */
#include <ZelvikSdk.h>
#include <stdio.h>

int main(void) {
    char names[10][256];
    ZelvikCameraInfo info;
    ZelvikMessage message;
    int ok = 0, count, error;
    ZELVIK_HWND queue = ZelvikMsg_CreateQueue(); /* errors arrive here as MSG_CAMERA_ERROR */
    int camera = Zelvik_Initialize(queue);

    printf("library version %d\n", Zelvik_GetDllVersion());
    if (camera == 0) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    count = Zelvik_EnumDevice(camera, &names[0][0]);
    printf("%d camera(s) found\n", count);
    for (int i = 0; i < count; ++i) printf("  %s\n", names[i]);

    info.size = sizeof info;
    if (Zelvik_GetCameraInfo(camera, &info))
        printf("sensor %d x %d, exposure %d..%d lines\n", info.maxWidth, info.maxHeight, info.exposureMin,
               info.exposureMax);
    printf("capture window %d x %d, colour mode %d bits\n", Zelvik_Width(camera), Zelvik_Height(camera),
           Zelvik_GetColorMode(camera));
    printf("exposure %d lines = %d us\n", Zelvik_GetExposureTime(camera, &ok),
           Zelvik_GetRealExposureTime(camera, &ok));

    while ((error = Zelvik_GetLastError(camera)) != 0) printf("reported error %d\n", error);
    while (ZelvikMsg_Get(queue, &message, 0) == 1)
        printf("message 0x%04x lParam %ld\n", (unsigned)message.message, (long)message.lParam);

    Zelvik_Release(camera);
    ZelvikMsg_DestroyQueue(queue);
    return 0;
}
