// Where the frames of a stream went: the frame path's counts, the facts of the frames handed out.
#include "capture/FrameAccounts.h"

#include <algorithm>
#include <limits>

namespace zelvik {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

uint32_t Clamped(uint64_t count) {
    return static_cast<uint32_t>(std::min<uint64_t>(count, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

static_assert(sizeof(ZelvikFrameFacts) == 72, "the header states this size");
static_assert(sizeof(ZelvikStreamStats) == 88, "the header states this size");

void FrameAccounts::Begin(bool singleFrames) {
    singleFrames_.store(singleFrames, kRelaxed);
    current_ = output_ = FrameRecord{};
    for (auto* counter : {&singleRead_, &overwritten_, &dropped_, &processed_, &handedOut_}) counter->store(0, kRelaxed);
    last_ = ZelvikFrameFacts{};
    copies_ = {};
}

void FrameAccounts::Took(uint64_t sequence, int64_t arrivalNs, uint64_t overwritten, uint64_t unread) {
    const uint64_t replaced = overwritten_.load(kRelaxed) + overwritten;
    overwritten_.store(replaced, kRelaxed);
    current_ = {sequence, arrivalNs, replaced, dropped_.load(kRelaxed), unread};
}

void FrameAccounts::TookSingle(int64_t arrivalNs) {
    const uint64_t sequence = singleRead_.load(kRelaxed) + 1;
    singleRead_.store(sequence, kRelaxed);
    current_ = {sequence, arrivalNs, overwritten_.load(kRelaxed), dropped_.load(kRelaxed), 0};
}

void FrameAccounts::Dropped() { dropped_.store(dropped_.load(kRelaxed) + 1, kRelaxed); }

void FrameAccounts::Processed() {
    processed_.store(processed_.load(kRelaxed) + 1, kRelaxed);
    output_ = current_;
}

void FrameAccounts::HandOut(const FrameRecord& frame, const void* buffer) {
    if (frame.sequence == 0) return;
    if (frame.sequence > last_.sequence) {
        // Every frame between the one handed out before and this one was lost at one stage; those neither
        // replaced in the ring nor dropped were processed and handed to no one.
        ZelvikFrameFacts facts{};
        facts.size = sizeof facts;
        facts.sequence = frame.sequence;
        facts.arrivalNs = frame.arrivalNs;
        const uint64_t overwritten = frame.overwritten - last_.totalOverwritten;
        const uint64_t dropped = frame.dropped - last_.totalDropped;
        const uint64_t notTaken = frame.sequence - last_.sequence - 1 - overwritten - dropped;
        facts.lostOverwritten = Clamped(overwritten);
        facts.lostDropped = Clamped(dropped);
        facts.lostNotTaken = Clamped(notTaken);
        facts.lostUnread = Clamped(frame.unread - last_.totalUnread);
        facts.totalOverwritten = frame.overwritten;
        facts.totalDropped = frame.dropped;
        facts.totalNotTaken = last_.totalNotTaken + notTaken;
        facts.totalUnread = frame.unread;
        last_ = facts;
        handedOut_.store(handedOut_.load(kRelaxed) + 1, kRelaxed);
    }
    if (buffer == nullptr || frame.sequence != last_.sequence) return;
    // Newest first; a buffer written again moves to the front.
    auto found = std::find_if(copies_.begin(), copies_.end(), [&](const Copy& c) { return c.buffer == buffer; });
    if (found == copies_.end()) found = copies_.end() - 1;
    std::move_backward(copies_.begin(), found, found + 1);
    copies_.front() = {buffer, last_};
}

bool FrameAccounts::Facts(const void* buffer, ZelvikFrameFacts* facts) const {
    const ZelvikFrameFacts* found = nullptr;
    if (buffer == nullptr) {
        if (last_.sequence != 0) found = &last_;
    } else {
        for (const Copy& copy : copies_)
            if (copy.buffer == buffer) {
                found = &copy.facts;
                break;
            }
    }
    if (found == nullptr) return false;
    *facts = *found;
    return true;
}

void FrameAccounts::Totals(ZelvikStreamStats* stats) const {
    // Handed out before processed: a frame moving between them is seen in neither or in processed only,
    // so framesNotTaken never wraps.
    const uint64_t handedOut = handedOut_.load(kRelaxed);
    stats->framesOverwritten = overwritten_.load(kRelaxed);
    stats->framesDropped = dropped_.load(kRelaxed);
    stats->framesProcessed = processed_.load(kRelaxed);
    stats->framesHandedOut = handedOut;
    stats->framesNotTaken = stats->framesProcessed - std::min(handedOut, stats->framesProcessed);
}

}  // namespace zelvik
