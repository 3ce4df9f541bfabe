/* A C99 program that uses the library through its public header only. */
#include <ZelvikSdk.h>
#include <stdio.h>
#include <string.h>

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                \
        }                                                            \
    } while (0)

int main(void) {
    ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    ZelvikMessage message;
    ZelvikFilterInfo filter;
    ZelvikColorModeInfo mode;
    ZelvikSensorInfo sensor;
    ZelvikFrameFacts facts;
    ZelvikStreamStats stats;
    int handle, ok = 0;

    CHECK(Zelvik_GetDllVersion() == 19793177);
    /* The table extensions. */
    CHECK(strcmp(ZelvikLib_ErrorName(ZELVIK_ERR_NO_CAMERA), "ZELVIK_ERR_NO_CAMERA") == 0);
    CHECK(strcmp(ZelvikLib_ErrorText(ZELVIK_ERR_NO_CAMERA), "camera not present") == 0);
    CHECK(ZelvikLib_ErrorText(10) == NULL);
    filter.size = sizeof filter;
    CHECK(ZelvikLib_FilterInfo(18, &filter) == 1 && filter.max == 16383 && strcmp(filter.name, "ExposureTime") == 0);
    mode.size = sizeof mode;
    CHECK(ZelvikLib_ColorMode(4, &mode) == 1 && mode.bits == 48 && mode.reportedDepth == 42);
    sensor.size = sizeof sensor;
    CHECK(ZelvikLib_SensorInfo(&sensor) == 1 && sensor.width == 2592 && sensor.minHeight == 3);
    CHECK(ZelvikLib_LinePeriodUs(2592, 0) > 36.5 && ZelvikLib_LinePeriodUs(2592, 0) < 36.6);
    CHECK(queue != 0);
    handle = Zelvik_Initialize(queue);
    CHECK(handle != 0);
    CHECK(Zelvik_Trigger(handle) == 0);
    CHECK(Zelvik_GetLastError(handle) == ZELVIK_ERR_UNSUPPORTED);
    CHECK(Zelvik_SetColorMode(handle, 24) == 1);
    CHECK(Zelvik_GetColorMode(handle) == 24);
    CHECK(Zelvik_GetRealExposureTime(handle, &ok) >= 0 && ok == 1);
    /* Frame facts and stream statistics before any stream: no frame, every count 0. */
    memset(&facts, 0, sizeof facts);
    facts.size = sizeof facts;
    CHECK(sizeof facts == 72 && sizeof stats == 88);
    CHECK(ZelvikFrame_GetFacts(handle, NULL, &facts) == 0 && facts.sequence == 0);
    memset(&stats, 0xFF, sizeof stats);
    stats.size = sizeof stats;
    CHECK(ZelvikStream_GetStats(handle, &stats) == 1 && stats.framesRead == 0 && stats.streaming == 0);
    /* The unsupported call posted its error too. */
    while (ZelvikMsg_Get(queue, &message, 0) == 1) {
        if (message.message == MSG_CAMERA_ERROR && message.lParam == ZELVIK_ERR_UNSUPPORTED) ok = 2;
    }
    CHECK(ok == 2);
    CHECK(Zelvik_Release(handle) == 1);
    CHECK(Zelvik_Release(handle) == 0);
    CHECK(Zelvik_GetColorMode(handle) == -1);
    CHECK(ZelvikMsg_DestroyQueue(queue) == 1);
    printf("C API program: ok\n");
    return 0;
}
