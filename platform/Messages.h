// Message targets: posting MSG_CAMERA_* to an application's message queue or X11 window, never waiting.
#pragma once

#include <cstdint>

#include "include/ZelvikSdk.h"

namespace zelvik {

// Posts a message to a target (a queue of ZelvikMsg_CreateQueue, an X11 window id, or 0 for none).
// Never blocks: a message for a full queue is dropped and counted; an unknown target drops it. True when
// the message went out: queued, or sent to the X server (which may still find the window gone).
bool PostToTarget(ZELVIK_HWND target, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Queue operations behind the ZelvikMsg_* exports.
ZELVIK_HWND CreateMessageQueue();
int GetMessage(ZELVIK_HWND queue, ZelvikMessage* out, int timeoutMs);
int MessageQueueFd(ZELVIK_HWND queue);
int MessageQueueDropped(ZELVIK_HWND queue);
int DestroyMessageQueue(ZELVIK_HWND queue);
bool IsMessageQueue(ZELVIK_HWND target);

// Messages a queue holds before further posts are dropped.
inline constexpr int kMessageQueueCapacity = 4096;

}  // namespace zelvik
