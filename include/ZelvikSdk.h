/* ZelvikSdk.h - the C interface of the Zelvik Q77RX camera library (libZelvikSdk_USB3_Q77RX.so).
 *
 * Every function but Zelvik_GetDllVersion and Zelvik_Initialize takes the handle that Zelvik_Initialize
 * returned as its first argument. A function called with a handle that is not registered (never created,
 * or already released) returns its failure value (0, or -1 for Zelvik_GetColorMode, Zelvik_GetSubSample
 * and Zelvik_GetWaitTime) and reports nothing. Otherwise failures push an error code (ZELVIK_ERR_*) on the
 * handle's error stack, read back with Zelvik_GetLastError, and post MSG_CAMERA_ERROR to the window or
 * message queue given to Zelvik_Initialize.
 *
 * Threads: calls with different handles may come from different threads; calls with one handle should
 * come from one thread at a time. Messages are posted, never sent: no library thread waits for the
 * application.
 */
#ifndef ZELVIK_SDK_H
#define ZELVIK_SDK_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZELVIK_BUILDING_LIBRARY)
#define ZELVIK_API __attribute__((visibility("default")))
#else
#define ZELVIK_API
#endif

/* A message target: an X11 window id, a queue from ZelvikMsg_CreateQueue, or 0 for none. */
typedef uintptr_t ZELVIK_HWND;

/* Messages posted to the application. */
#define MSG_CAMERA_FRAME 0x8002 /* wParam: address of the ZelvikFrameInfo, lParam 0; or wParam 0, lParam an error code */
#define MSG_CAMERA_ERROR 0x8003 /* wParam 0, lParam the error code */
#define MSG_CAMERA_ARRIVED 0x8004 /* ZelvikCam_Watch: wParam the camera's id, lParam its number now */
#define MSG_CAMERA_REMOVED 0x8005 /* ZelvikCam_Watch: wParam the camera's id, lParam the number it had */

/* Error codes (Zelvik_GetLastError, MSG_CAMERA_ERROR, MSG_CAMERA_FRAME). */
#define ZELVIK_ERR_AUTO_IRIS_OFF 0  /* automatic exposure/gain control is off (every processed frame) */
#define ZELVIK_ERR_NOT_ALLOWED 1    /* no device, or not allowed in the current capture mode */
#define ZELVIK_ERR_NO_CAMERA 2      /* camera not present */
#define ZELVIK_ERR_THREAD 3         /* thread or event creation failed */
#define ZELVIK_ERR_WINDOW 4         /* window, display or settings-store failure */
#define ZELVIK_ERR_MEMORY 5         /* memory or buffer failure, buffer too small */
#define ZELVIK_ERR_DEVICE 6         /* device command failed */
#define ZELVIK_ERR_CAPTURE_WINDOW 7 /* invalid capture window */
#define ZELVIK_ERR_TRANSFER 8       /* frame transfer failed */
#define ZELVIK_ERR_ARGUMENT 9       /* invalid argument */
#define ZELVIK_ERR_UNSUPPORTED 11   /* function not supported */
#define ZELVIK_ERR_RECORDING 12     /* recording or image file failed, or stored settings unusable */
#define ZELVIK_ERR_CAMERA_LOST 13   /* camera lost during streaming */

/* Announced with every streamed frame (MSG_CAMERA_FRAME wParam). */
typedef struct ZelvikFrameInfo {
    int32_t size;         /* sizeof(ZelvikFrameInfo) */
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel; /* 8, 16, 24, 32, 48 or 64 */
    int32_t frameRate;    /* tenths of a frame per second */
    void* buffer;         /* the application's buffer, or NULL */
} ZelvikFrameInfo;

/* Filled by Zelvik_GetCameraInfo; set size to sizeof(ZelvikCameraInfo) (36) before the call. */
typedef struct ZelvikCameraInfo {
    uint32_t size;
    int32_t maxWidth, maxHeight;
    int32_t globalGainMin, globalGainMax;
    int32_t colorGainMin, colorGainMax;
    int32_t exposureMin, exposureMax;
} ZelvikCameraInfo;

/* Still image formats of Zelvik_SaveImage. */
#define ZELVIK_FORMAT_BMP 0         /* same depth as the image */
#define ZELVIK_FORMAT_RAW 1         /* the pixel memory, no header */
#define ZELVIK_FORMAT_JPEG_HIGH 2   /* quality 100 */
#define ZELVIK_FORMAT_JPEG_NORMAL 3 /* quality 70 */
#define ZELVIK_FORMAT_JPEG_LOW 4    /* quality 20 */
#define ZELVIK_FORMAT_PNG 5
#define ZELVIK_FORMAT_TIFF 6

/* ---- Library and instances ---- */
ZELVIK_API int Zelvik_GetDllVersion(void);                    /* 19793177 */
ZELVIK_API int Zelvik_Initialize(ZELVIK_HWND notifyWindow);   /* new handle; 0 only when out of memory */
ZELVIK_API int Zelvik_Release(int handle);                    /* 1 if the handle existed, else 0 */
ZELVIK_API int Zelvik_GetLastError(int handle);               /* pops the newest error code; 0 when none */

/* ---- Capture ---- */
/* Opens the preview window (placed by Zelvik_SetPreviewWindow) on $DISPLAY and streams into it; no display
   or no such parent window: 0 with ZELVIK_ERR_WINDOW. The window stays through Zelvik_StopPreview and goes
   with Zelvik_Close or Zelvik_Release. */
ZELVIK_API int Zelvik_Preview(int handle);
/* As Zelvik_Preview, and every frame is announced to callbackWindow (copied into buffer when size is not
   0). Without any display a program whose callbackWindow is a message queue (or 0) streams without a
   window. */
ZELVIK_API int Zelvik_CallBackPreview(int handle, ZELVIK_HWND callbackWindow, void* buffer, int size,
                                      int keepRowOrder);
ZELVIK_API int Zelvik_Record(int handle, const char* path, int durationMs, int showWindow);
ZELVIK_API int Zelvik_RecordW(int handle, const wchar_t* path, int durationMs, int showWindow);
ZELVIK_API int Zelvik_SnapShot(int handle, void* buffer, int size, int keepRowOrder);
ZELVIK_API int Zelvik_Capture(int handle);
ZELVIK_API int Zelvik_StartPreview(int handle);
ZELVIK_API int Zelvik_StopPreview(int handle);
ZELVIK_API int Zelvik_Close(int handle);
ZELVIK_API int Zelvik_GetImage(int handle, void* buffer, int size, int keepRowOrder);

/* ---- Still images ---- */
ZELVIK_API int Zelvik_SaveImage(int handle, const char* fileName, int format);
ZELVIK_API int Zelvik_SaveImageW(int handle, const wchar_t* fileName, int format);

/* ---- Window and geometry ---- */
/* The next preview window: a child of the X window parent at (x, y), width x height, titled
   "ActiveMovie Window"; parent 0: a top-level "Active Window" of the picture's size, centred. */
ZELVIK_API int Zelvik_SetPreviewWindow(int handle, ZELVIK_HWND parent, int x, int y, int width, int height);
ZELVIK_API int Zelvik_SetCaptureWindow(int handle, int width, int height);
ZELVIK_API int Zelvik_SetCaptureWindowEx(int handle, int TH, int EHS, int EH, int TV, int EVS, int EV);
ZELVIK_API int Zelvik_GetCaptureWindowEx(int handle, int* TH, int* EHS, int* EH, int* TV, int* EVS, int* EV);
ZELVIK_API int Zelvik_Width(int handle);
ZELVIK_API int Zelvik_Height(int handle);

/* ---- Format and timing ---- */
ZELVIK_API int Zelvik_SetColorMode(int handle, int bits);  /* 8, 16, 24, 32, 48, 64; else error 9 */
ZELVIK_API int Zelvik_GetColorMode(int handle);            /* 8, 10, 24, 32, 42 or 58 */
ZELVIK_API int Zelvik_SetSubSample(int handle, int n);     /* 0 full, 1 half, 2 quarter */
ZELVIK_API int Zelvik_GetSubSample(int handle);
ZELVIK_API int Zelvik_SetWaitTime(int handle, int ms);
ZELVIK_API int Zelvik_GetWaitTime(int handle);
ZELVIK_API int Zelvik_GetRealExposureTime(int handle, int* ok); /* microseconds */

/* ---- Camera selection and information ---- */
ZELVIK_API int Zelvik_SetDeviceNumber(int handle, int number);
ZELVIK_API int Zelvik_EnumDevice(int handle, char* names);        /* 10 entries of 256 bytes */
ZELVIK_API int Zelvik_EnumDeviceW(int handle, wchar_t* names);    /* 10 entries of 256 wchar_t */
ZELVIK_API int Zelvik_GetDeviceName(int handle, int index, char* name, int size);
ZELVIK_API int Zelvik_GetDeviceNameW(int handle, int index, wchar_t* name, int size);
ZELVIK_API int Zelvik_GetCameraInfo(int handle, ZelvikCameraInfo* info);
ZELVIK_API int Zelvik_GetStatus(int handle, int unused);

/* ---- Settings dialogs (modal; error 4 without a display) ---- */
ZELVIK_API int Zelvik_SetCameraDlg(int handle, ZELVIK_HWND parent);
ZELVIK_API int Zelvik_SetImageDlg(int handle, ZELVIK_HWND parent);
ZELVIK_API int Zelvik_SetAnalogDlg(int handle, ZELVIK_HWND parent);

/* ---- Mirror and automatic control ---- */
ZELVIK_API int Zelvik_SetMirrorV(int handle, int on);
ZELVIK_API int Zelvik_GetMirrorV(int handle);
ZELVIK_API int Zelvik_SetMirrorH(int handle, int on);
ZELVIK_API int Zelvik_GetMirrorH(int handle);
ZELVIK_API int Zelvik_SetAutoIris(int handle, int mode); /* 0 off, 1 exposure, 2 gain */
ZELVIK_API int Zelvik_GetAutoIris(int handle, int* ok);

/* ---- Registers and camera memory ---- */
ZELVIK_API int Zelvik_WriteRegister(int handle, int reg, int value);   /* low 8 bits of reg */
ZELVIK_API int Zelvik_ReadRegister(int handle, int reg, int* ok);
ZELVIK_API int Zelvik_WriteRegisterEx(int handle, int reg, int value); /* 16-bit reg */
ZELVIK_API int Zelvik_ReadRegisterEx(int handle, int reg, int* ok);
ZELVIK_API int Zelvik_WriteSromID(int handle, int address, int value);
ZELVIK_API int Zelvik_ReadSromID(int handle, int address, int* ok);
ZELVIK_API int Zelvik_SetIOPort(int handle, int value);
ZELVIK_API int Zelvik_GetIOPort(int handle, unsigned char* value, int unused1, int unused2);

/* ---- Filter values: index 1..27, or the named property functions below ---- */
ZELVIK_API int Zelvik_SetFilterValue(int handle, int index, int value);
ZELVIK_API int Zelvik_GetFilterValue(int handle, int index, int* ok);

ZELVIK_API int Zelvik_SetBrightness(int handle, int value);       /* 1: -255..255 */
ZELVIK_API int Zelvik_GetBrightness(int handle, int* ok);
ZELVIK_API int Zelvik_SetContrast(int handle, int value);         /* 2: -127..127 */
ZELVIK_API int Zelvik_GetContrast(int handle, int* ok);
ZELVIK_API int Zelvik_SetHue(int handle, int value);              /* 3: -360..360 */
ZELVIK_API int Zelvik_GetHue(int handle, int* ok);
ZELVIK_API int Zelvik_SetSaturation(int handle, int value);       /* 4: -255..255 */
ZELVIK_API int Zelvik_GetSaturation(int handle, int* ok);
ZELVIK_API int Zelvik_SetSharpness(int handle, int value);        /* 5: 0..30 */
ZELVIK_API int Zelvik_GetSharpness(int handle, int* ok);
ZELVIK_API int Zelvik_SetBayerGainRGB(int handle, int value);     /* 6: red bits 0-7, green 8-15, blue 16-23 */
ZELVIK_API int Zelvik_GetBayerGainRGB(int handle, int* ok);
ZELVIK_API int Zelvik_SetBayerGainRed(int handle, int value);     /* 7: 0..200 percent */
ZELVIK_API int Zelvik_GetBayerGainRed(int handle, int* ok);
ZELVIK_API int Zelvik_SetBayerGainGreen(int handle, int value);   /* 8: 0..200 */
ZELVIK_API int Zelvik_GetBayerGainGreen(int handle, int* ok);
ZELVIK_API int Zelvik_SetBayerGainBlue(int handle, int value);    /* 9: 0..200 */
ZELVIK_API int Zelvik_GetBayerGainBlue(int handle, int* ok);
ZELVIK_API int Zelvik_SetBayerGainAuto(int handle, int value);    /* 10: white balance every frame */
ZELVIK_API int Zelvik_GetBayerGainAuto(int handle, int* ok);
ZELVIK_API int Zelvik_SetGamma(int handle, int value);            /* 11: 0..200, 100 = linear */
ZELVIK_API int Zelvik_GetGamma(int handle, int* ok);
ZELVIK_API int Zelvik_SetBayerMode(int handle, int value);        /* 12: Bayer phase 0..3 */
ZELVIK_API int Zelvik_GetBayerMode(int handle, int* ok);
ZELVIK_API int Zelvik_SetGlobalGain(int handle, int value);       /* 13: 0..63, also sets the colour gains */
ZELVIK_API int Zelvik_GetGlobalGain(int handle, int* ok);
ZELVIK_API int Zelvik_SetColorGainRed(int handle, int value);     /* 14: 0..63 */
ZELVIK_API int Zelvik_GetColorGainRed(int handle, int* ok);
ZELVIK_API int Zelvik_SetColorGainGreen1(int handle, int value);  /* 15: 0..63 */
ZELVIK_API int Zelvik_GetColorGainGreen1(int handle, int* ok);
ZELVIK_API int Zelvik_SetColorGainGreen2(int handle, int value);  /* 16: 0..63 */
ZELVIK_API int Zelvik_GetColorGainGreen2(int handle, int* ok);
ZELVIK_API int Zelvik_SetColorGainBlue(int handle, int value);    /* 17: 0..63 */
ZELVIK_API int Zelvik_GetColorGainBlue(int handle, int* ok);
ZELVIK_API int Zelvik_SetExposureTime(int handle, int value);     /* 18: 0..16383 line periods */
ZELVIK_API int Zelvik_GetExposureTime(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayMode(int handle, int value);         /* 19: 0 Bayer, 1 Bayer convert, 2 grayscale */
ZELVIK_API int Zelvik_GetGrayMode(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayGainR(int handle, int value);        /* 20: 0..255 */
ZELVIK_API int Zelvik_GetGrayGainR(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayGainG1(int handle, int value);       /* 21: 0..255 */
ZELVIK_API int Zelvik_GetGrayGainG1(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayGainG2(int handle, int value);       /* 22: 0..255 */
ZELVIK_API int Zelvik_GetGrayGainG2(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayGainB(int handle, int value);        /* 23: 0..255 */
ZELVIK_API int Zelvik_GetGrayGainB(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayOffsetR(int handle, int value);      /* 24: -255..255 */
ZELVIK_API int Zelvik_GetGrayOffsetR(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayOffsetG1(int handle, int value);     /* 25: -255..255 */
ZELVIK_API int Zelvik_GetGrayOffsetG1(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayOffsetG2(int handle, int value);     /* 26: -255..255 */
ZELVIK_API int Zelvik_GetGrayOffsetG2(int handle, int* ok);
ZELVIK_API int Zelvik_SetGrayOffsetB(int handle, int value);      /* 27: -255..255 */
ZELVIK_API int Zelvik_GetGrayOffsetB(int handle, int* ok);

/* ---- Answered without action ---- */
/* One shared entry: report error 11 on a registered handle and return 0; arguments after the handle are
 * ignored. */
ZELVIK_API int Zelvik_Fps(int handle, ...);
ZELVIK_API int Zelvik_GetCameraType(int handle, ...);
ZELVIK_API int Zelvik_SetCameraType(int handle, ...);
ZELVIK_API int Zelvik_SetCrossbar(int handle, ...);
ZELVIK_API int Zelvik_SetHalfClock(int handle, ...);
ZELVIK_API int Zelvik_SetSamplingRate(int handle, ...);
ZELVIK_API int Zelvik_Trigger(int handle, ...);
/* Return 0 and store 0 in *ok on a registered handle. */
ZELVIK_API int Zelvik_GetSamplingRate(int handle, int* ok);
ZELVIK_API int Zelvik_GetVideoFormat(int handle, int* ok);
/* Returns 0 and stores 1 in *ok on a registered handle. */
ZELVIK_API int Zelvik_GetHalfClock(int handle, int* ok);

/* ---- Extension: message queues for programs without an X11 window ---- */
typedef struct ZelvikMessage {
    uint32_t message;  /* MSG_CAMERA_FRAME or MSG_CAMERA_ERROR */
    uintptr_t wParam;
    intptr_t lParam;
} ZelvikMessage;

/* A new bounded queue; its value is used wherever the API takes a window. 0 when out of memory. */
ZELVIK_API ZELVIK_HWND ZelvikMsg_CreateQueue(void);
/* 1 and the oldest message; 0 when none arrived within timeoutMs (-1 waits without limit);
 * -1 for an unknown queue or a null out. */
ZELVIK_API int ZelvikMsg_Get(ZELVIK_HWND queue, ZelvikMessage* out, int timeoutMs);
/* A file descriptor that is readable while messages wait (poll/epoll); -1 for an unknown queue.
 * Owned by the queue: do not read or close it. */
ZELVIK_API int ZelvikMsg_Fd(ZELVIK_HWND queue);
/* Number of messages dropped because the queue was full; -1 for an unknown queue. */
ZELVIK_API int ZelvikMsg_Dropped(ZELVIK_HWND queue);
/* 1 when the queue existed and is destroyed, else 0. Messages posted to it later are discarded. */
ZELVIK_API int ZelvikMsg_DestroyQueue(ZELVIK_HWND queue);

/* ---- Extension: the library build ---- */
/* The processor-dependent kernel forms this process runs, detected once, e.g. "demosaic avx2 (fast16),
 * site gains fast, hot pixels avx2, sharpen avx2, lookup tables portable, hue/saturation avx2".
 * A static string, valid for the life of the process. */
ZELVIK_API const char* ZelvikLib_KernelForms(void);

/* ---- Extension: the library's tables, for bindings and tools that would otherwise copy them ---- */
/* The name ("ZELVIK_ERR_NO_CAMERA") and the text ("camera not present") of an error code the library
 * reports; NULL for any other code (10 included). Static strings, valid for the life of the process. */
ZELVIK_API const char* ZelvikLib_ErrorName(int code);
ZELVIK_API const char* ZelvikLib_ErrorText(int code);

/* One indexed filter value of Zelvik_SetFilterValue and Zelvik_GetFilterValue. */
typedef struct ZelvikFilterInfo {
    uint32_t size;        /* sizeof(ZelvikFilterInfo) */
    int32_t index;        /* 1..27 */
    int32_t rangeChecked; /* 1: a set accepts min..max (both included) and refuses others with error 9;
                             0: a set takes any value (6 packs three gains, 10 is a switch); min = max = 0 */
    int32_t min, max;
    const char* name;     /* of the property exports: "ExposureTime" for Zelvik_SetExposureTime */
    const char* toolName; /* the zelvik tool's name: "exposure" */
} ZelvikFilterInfo;
/* Set info->size to sizeof(ZelvikFilterInfo) before the call. 1 and *info filled for index 1..27; 0 for
 * any other index, a null info or a smaller size (nothing written). The strings are static. */
ZELVIK_API int ZelvikLib_FilterInfo(int index, ZelvikFilterInfo* info);

/* One colour mode: what Zelvik_SetColorMode takes and what its frames hold. */
typedef struct ZelvikColorModeInfo {
    uint32_t size;           /* sizeof(ZelvikColorModeInfo) */
    int32_t bits;            /* Zelvik_SetColorMode's value and the frames' bits per pixel */
    int32_t reportedDepth;   /* what Zelvik_GetColorMode answers in this mode */
    int32_t color;           /* 1: blue, green, red samples (and an unused fourth); 0: gray */
    int32_t samplesPerPixel; /* 1, 3 or 4 */
    int32_t bitsPerSample;   /* 8, or 16 for words that hold 10-bit samples */
} ZelvikColorModeInfo;
/* Set info->size first. 1 and *info filled for mode n (0..5: 8, 16, 24, 32, 48 and 64 bits); 0 for any
 * other n, a null info or a smaller size (nothing written). */
ZELVIK_API int ZelvikLib_ColorMode(int n, ZelvikColorModeInfo* info);

/* The sensor: its size and the smallest capture window it takes. */
typedef struct ZelvikSensorInfo {
    uint32_t size;               /* sizeof(ZelvikSensorInfo) */
    int32_t width, height;       /* 2592 x 1944 */
    int32_t minWidth, minHeight; /* 4 x 3 */
} ZelvikSensorInfo;
/* Set info->size first. 1 and *info filled; 0 for a null info or a smaller size (nothing written). */
ZELVIK_API int ZelvikLib_SensorInfo(ZelvikSensorInfo* info);

/* Microseconds one sensor line takes for a capture window `width` pixels wide (before subsampling) at
 * subsample 0..2, as Zelvik_GetRealExposureTime counts it: its answer is the exposure in line periods
 * times this, truncated. */
ZELVIK_API double ZelvikLib_LinePeriodUs(int width, int subsample);

/* ---- Extension: the state of a camera's recording (Zelvik_Record) ---- */
/* How the last recording ended (ZelvikRecordStatus.end). */
#define ZELVIK_REC_NONE 0          /* no recording has ended yet, or one is running */
#define ZELVIK_REC_TIME_UP 1       /* the requested time passed: the file is finished */
#define ZELVIK_REC_SIZE_LIMIT 2    /* the file reached the 4 GiB an AVI can state: finished early */
#define ZELVIK_REC_WRITE_FAILED 3  /* a write failed (disk full, file system gone): finished with the frames before */
#define ZELVIK_REC_STOPPED 4       /* stopped from outside (StopPreview, Close, Release): finished early */
#define ZELVIK_REC_FINISH_FAILED 5 /* the end of the file could not be written */
#define ZELVIK_REC_CAMERA_LOST 6   /* the camera was lost (error 13): finished with the frames before */

/* Set size to sizeof(ZelvikRecordStatus) (44) before the call. When the recording has ended,
 * framesWritten + framesSkipped + framesQueued = framesProcessed. */
typedef struct ZelvikRecordStatus {
    uint32_t size;
    int32_t recording;        /* 1 while a recording runs */
    int32_t end;              /* ZELVIK_REC_*: how the last recording ended */
    int32_t error;            /* errno behind ZELVIK_REC_WRITE_FAILED or ZELVIK_REC_FINISH_FAILED, else 0 */
    uint32_t framesWritten;   /* frames in the file */
    uint32_t framesSkipped;   /* processed frames not recorded: every slot of the recorder's queue was taken */
    uint32_t framesProcessed; /* frames the capture thread finished for the recording (up to its last one) */
    uint32_t elapsedMs;       /* from the first recorded frame's arrival to that of the last one written */
    uint32_t durationMs;      /* the requested time */
    uint32_t rateHundredths;  /* frames per second x 100 written into the file at the end (0 until then) */
    uint32_t framesQueued;    /* frames waiting to be written; once ended, those left unwritten (a stop from
                                 outside, a failed write). Filled only when size is 44 or more. */
} ZelvikRecordStatus;

/* Fills *status with the current or last recording of the camera: 1. 0 for an unregistered handle
 * (nothing reported) and, with error 9, for a null status or a size below 40 (the layout before
 * framesQueued, still served). Any thread may call it while a recording runs. */
ZELVIK_API int ZelvikRec_GetStatus(int handle, ZelvikRecordStatus* status);

/* Ends the camera's running recording early, as its time would: the next frame is the last one written,
 * the file is finished with the measured rate (end ZELVIK_REC_TIME_UP) and streaming goes on; wait for
 * ZelvikRec_GetStatus's recording to turn 0 before Zelvik_StopPreview. Unlike a stop from outside it leaves
 * a file that plays. 1 when a recording was running; 0 when none runs or for an unregistered handle
 * (nothing reported). */
ZELVIK_API int ZelvikRec_Finish(int handle);

/* ---- Extension: settings dialogs ---- */
/* Closes every settings dialog open in the process (Zelvik_SetCameraDlg, Zelvik_SetAnalogDlg,
 * Zelvik_SetImageDlg) as its Cancel button does: the export that opened it undoes the dialog's live changes
 * and returns 1. For a program that ends on Ctrl-C or SIGTERM while a dialog is open. Any thread may call
 * it, also while a dialog export waits on another thread; not from a signal handler. Returns the number of
 * dialogs it closed; a dialog still being opened is not reached yet (call again). */
ZELVIK_API int ZelvikDlg_CancelOpen(void);

/* ---- Extension: frame timing ---- */
/* 1 and, in *nanoseconds, when the camera's frame announced by the handle's last MSG_CAMERA_FRAME
 * arrived (the moment its acquisition read finished), on CLOCK_MONOTONIC: the frame's age is
 * clock_gettime(CLOCK_MONOTONIC) minus it. 0 for an unknown handle, a null pointer or before the first
 * frame. Read it when the message arrives: the next frame's message replaces it. */
ZELVIK_API int ZelvikFrame_ArrivalTime(int handle, int64_t* nanoseconds);

/* ---- Extension: every frame's facts, and where the frames of a stream went ---- */
/* A stream starts with Zelvik_StartPreview (also through Zelvik_Preview, Zelvik_CallBackPreview and
 * Zelvik_Record), with Zelvik_Capture (single frames until Zelvik_StopPreview), and with a
 * Zelvik_SnapShot outside both (a stream of one frame). It numbers every frame the library reads from the
 * camera: 1, 2, 3, ... A frame read reaches the application, or is lost at exactly one of these stages:
 *   overwritten  read, and replaced in the library's frame ring before the frame path took it (exact);
 *   dropped      taken by the frame path and discarded unprocessed: the capture window changed under it
 *                while streaming (exact);
 *   not taken    processed, but handed to no one: no frame message was posted for it (no message target,
 *                a full message queue, an application buffer too small for it) and no Zelvik_GetImage or
 *                Zelvik_SnapShot copied it before the next frame replaced it (exact);
 * and frames the camera finished that the library never read are counted apart:
 *   unread       estimated from the time between two reads in the sensor's frame periods: exact while the
 *                reads keep pace with the camera; an interruption (a transfer the camera held, a setter's
 *                pause, a late read) is counted to within one frame (docs/capture.md).
 * A frame is handed to the application when its MSG_CAMERA_FRAME is posted, and when Zelvik_GetImage or
 * Zelvik_SnapShot copies it. */

/* One frame handed to the application. Set size to sizeof(ZelvikFrameFacts) (72) before the call. */
typedef struct ZelvikFrameFacts {
    uint32_t size;
    uint32_t reserved;        /* 0 */
    uint64_t sequence;        /* the frame's number in its stream */
    int64_t arrivalNs;        /* CLOCK_MONOTONIC: when the library's read of it finished */
    /* Frames lost between the frame handed out before this one in the stream (or the stream's start) and
     * this one, by stage: sequence - previous sequence - 1 = lostOverwritten + lostDropped + lostNotTaken. */
    uint32_t lostOverwritten; /* exact */
    uint32_t lostDropped;     /* exact */
    uint32_t lostNotTaken;    /* exact */
    uint32_t lostUnread;      /* estimate: not counted in the sequence */
    /* The same stages over all frames of the stream before this one: the difference between two frames'
     * totals is what was lost between them, also when frames in between were handed out. */
    uint64_t totalOverwritten;
    uint64_t totalDropped;
    uint64_t totalNotTaken;
    uint64_t totalUnread;
} ZelvikFrameFacts;

/* The facts of a frame handed to the application: with buffer NULL, of the last one the stream handed out
 * (read it when the frame message arrives, or right after Zelvik_GetImage or Zelvik_SnapShot returns);
 * with an application buffer, of the last frame the library copied into that buffer (a
 * Zelvik_CallBackPreview buffer, or that of a Zelvik_GetImage or Zelvik_SnapShot), known for the last four
 * buffers it wrote. So a program that hands the library a fresh buffer with Zelvik_CallBackPreview before it
 * reads the previous one learns which frame that one holds, however many frames arrived meanwhile.
 * 1 and *facts filled; 0 for an unknown handle, a null facts, a size below 72, no frame handed out in the
 * current or last stream, or a buffer the library wrote no frame of it into (nothing written then).
 * Any thread may call it. */
ZELVIK_API int ZelvikFrame_GetFacts(int handle, const void* buffer, ZelvikFrameFacts* facts);

/* The current or last stream, counted since it started. Set size to sizeof(ZelvikStreamStats) (88). */
typedef struct ZelvikStreamStats {
    uint32_t size;
    int32_t streaming;          /* 1 while the stream runs (streaming or single frames), 0 once it stopped */
    uint64_t framesRead;        /* exact: frames the library read from the camera (the newest sequence) */
    uint64_t framesUnread;      /* estimate: frames the camera finished that the library never read */
    uint64_t framesOverwritten; /* exact */
    uint64_t framesDropped;     /* exact */
    uint64_t framesProcessed;   /* exact: frames the frame path finished */
    uint64_t framesHandedOut;   /* exact: frames handed to the application */
    uint64_t framesNotTaken;    /* exact: framesProcessed - framesHandedOut (while streaming, this includes the
                                   frame processed a moment ago whose message is being posted) */
    /* framesRead - framesOverwritten - framesDropped - framesProcessed (0..3) frames were read and not yet
     * taken (still in the ring, or being processed); 0 once the stream stopped with every frame taken. */
    /* The recording of this camera (the same as ZelvikRec_GetStatus): */
    uint32_t recordProcessed;   /* frames finished for the recording */
    uint32_t recordWritten;     /* of those, in the file */
    uint32_t recordSkipped;     /* of those, not recorded: the recorder's queue was full (exact) */
    uint32_t recordQueued;      /* of those, waiting to be written (left unwritten once it ended) */
    int32_t recording;          /* 1 while a recording runs */
    uint32_t reserved;          /* 0 */
} ZelvikStreamStats;

/* Fills *stats: 1. 0 for an unknown handle, a null stats or a size below 88 (nothing written). Before any
 * stream every count is 0. Any thread may call it while the camera streams. */
ZELVIK_API int ZelvikStream_GetStats(int handle, ZelvikStreamStats* stats);

/* ---- Extension: cameras on disks the program provides ---- */
/* Disks a handle looks for its cameras on instead of the system's USB disks: an emulator in the process,
 * a replay, a test. The library applies the same rules as to the system's disks (identity, drives 1..4,
 * the identification sector) and calls the functions from its own threads as well, one call at a time
 * per drive. */
typedef struct ZelvikDiskSet {
    uint32_t size;  /* sizeof(ZelvikDiskSet) */
    void* context;  /* given to identity and open */
    /* The identity of USB disk `index` (0 first, in drive order: drive number index + 1) as the system's
     * disks would give it, "USBSTOR\Disk&Ven_<vendor>&Prod_<model>&Rev_<revision>\<serial>": written
     * NUL-terminated into out (size bytes, cut to fit) and its whole length returned; -1 past the last
     * disk. A length of size or more is asked again with room for all of it. */
    int (*identity)(void* context, int index, char* out, int size);
    /* Opens drive `number` (1..4) for reading and writing: a drive, or NULL. */
    void* (*open)(void* context, int number);
    /* Transfers `length` bytes at byte `offset` of the drive: 1 when all of them were transferred. */
    int (*read)(void* drive, uint64_t offset, void* buffer, size_t length);
    int (*write)(void* drive, uint64_t offset, const void* buffer, size_t length);
    /* Closes a drive open returned (NULL: nothing to do). */
    void (*close)(void* drive);
} ZelvikDiskSet;

/* As Zelvik_Initialize, with the cameras looked for on `disks` (the record is copied). The context and
 * every drive must stay usable until each drive the library opened is closed: at Zelvik_Release at the
 * latest, or, for a transfer the drive still holds then, when that transfer returns. 0 for a null set or
 * a size below sizeof(ZelvikDiskSet); otherwise as Zelvik_Initialize. */
ZELVIK_API int ZelvikDisk_Initialize(ZELVIK_HWND notifyWindow, const ZelvikDiskSet* disks);

/* ---- Extension: which camera is which, and cameras that come and go ---- */
/* A camera number (what Zelvik_SetDeviceNumber takes, 0 for the first) is the camera's place among the
 * cameras attached now, in drive order: when one leaves, those after it move up. What stays is the
 * camera's identity: its serial, as its disk names it, and the id this process gives that identity. */
typedef struct ZelvikCameraEntry {
    uint32_t size;      /* sizeof(ZelvikCameraEntry) */
    int32_t number;     /* its number now; -1 when it is not attached */
    int32_t id;         /* the same for this identity for as long as the process runs; never 0 */
    int32_t present;    /* 1 attached now, 0 not */
    char name[16];      /* the name Zelvik_EnumDevice gives its number ("ZelvikQ77RX_01"); empty when gone */
    char serial[64];    /* e.g. "Q77RX0001" (NUL-terminated, cut to fit) */
    char identity[256]; /* "USBSTOR\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\Q77RX0001" */
} ZelvikCameraEntry;

/* The cameras attached now, in number order, on the system's disks (handle 0) or on the disks a handle
 * looks at (one of ZelvikDisk_Initialize). Set each entry's size first. Writes up to capacity entries
 * and returns how many cameras there are (more than capacity when some did not fit); -1 for an unknown
 * handle, a negative capacity, or entries NULL with a capacity above 0. Opens no camera. */
ZELVIK_API int ZelvikCam_List(int handle, ZelvikCameraEntry* entries, int capacity);
/* A camera seen by this process (ZelvikCam_List, a watch message) by its id: 1 and *entry filled, with
 * present and number as last seen; 0 for an id never given or a null entry or smaller size. */
ZELVIK_API int ZelvikCam_Describe(int id, ZelvikCameraEntry* entry);
/* The camera the handle has open: 1 and *entry filled; 0 when it has none open (nothing reported). */
ZELVIK_API int ZelvikCam_GetOpen(int handle, ZelvikCameraEntry* entry);
/* As Zelvik_SetDeviceNumber, for the attached camera with this serial: 1, or 0 with error 2 when no
 * attached camera has it or another handle has it open. */
ZELVIK_API int ZelvikCam_SelectSerial(int handle, const char* serial);
/* Posts MSG_CAMERA_ARRIVED and MSG_CAMERA_REMOVED to target (a queue or a window) for every camera of
 * the system's disks that arrives or leaves from now on, within a second. 1, or 0 for target 0 or one
 * already watching. Call ZelvikCam_Unwatch before destroying the queue. */
ZELVIK_API int ZelvikCam_Watch(ZELVIK_HWND target);
/* Stops the messages to target: 1, or 0 when it was not watching. */
ZELVIK_API int ZelvikCam_Unwatch(ZELVIK_HWND target);

#ifdef __cplusplus
}
#endif

#endif /* ZELVIK_SDK_H */
