// Processor detection: CPUID decoding, the model-name table and instruction probes under a fault guard.
#include "imaging/CpuInfo.h"

#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define ZELVIK_X86 1
#endif

namespace zelvik {

namespace {

#if ZELVIK_X86
// A probe runs one instruction; an unsupported one raises SIGILL (SIGSEGV when the system makes the
// identification instruction fault), which jumps back here instead of ending the process. The handlers
// are process-wide, so the hardware is examined once per process (HostDetection, ProbeOutcome) and a
// fault that is not a probe's, from another thread during that moment, goes to the handler it would
// have met: the guard puts the previous one back and returns, and the instruction faults again there.
thread_local sigjmp_buf* tGuardJump = nullptr;
struct sigaction gPreviousIll {};
struct sigaction gPreviousSegv {};

void OnGuardedFault(int signal) {
    if (tGuardJump != nullptr) siglongjmp(*tGuardJump, 1);
    sigaction(signal, signal == SIGILL ? &gPreviousIll : &gPreviousSegv, nullptr);
}

// One guard at a time, so concurrent probes cannot restore each other's handler in the middle of one.
std::mutex gGuardMutex;

template <class F>
int RunGuarded(F&& body) {
    std::lock_guard<std::mutex> lock(gGuardMutex);
    struct sigaction handler {};
    handler.sa_handler = OnGuardedFault;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_NODEFER;
    sigaction(SIGILL, &handler, &gPreviousIll);
    sigaction(SIGSEGV, &handler, &gPreviousSegv);
    sigjmp_buf jump;
    tGuardJump = &jump;
    volatile int ran = 0;
    if (sigsetjmp(jump, 1) == 0) {
        body();
        ran = 1;
    }
    tGuardJump = nullptr;
    sigaction(SIGSEGV, &gPreviousSegv, nullptr);
    sigaction(SIGILL, &gPreviousIll, nullptr);
    return ran;
}

__attribute__((noinline)) void ProbeMmx() { asm volatile("pxor %%mm0, %%mm0\n\temms" ::: "mm0"); }
__attribute__((noinline)) void ProbeSse() { asm volatile("xorps %%xmm0, %%xmm0" ::: "xmm0"); }
__attribute__((noinline)) void ProbeSse2() { asm volatile("pxor %%xmm0, %%xmm0" ::: "xmm0"); }
__attribute__((noinline)) void Probe3DNow() { asm volatile("pfrcp %%mm0, %%mm0\n\temms" ::: "mm0"); }
__attribute__((noinline)) void ProbeSsse3() { asm volatile("pabsb %%xmm0, %%xmm0" ::: "xmm0"); }
__attribute__((noinline)) void ProbeSse41() { asm volatile("pminud %%xmm0, %%xmm0" ::: "xmm0"); }
__attribute__((noinline)) void ProbeAvx2() { asm volatile("vpaddd %%ymm0, %%ymm0, %%ymm0\n\tvzeroupper" ::: "xmm0"); }
__attribute__((noinline)) void ProbeAvx512Vbmi() {
    asm volatile("vpermb %%zmm0, %%zmm0, %%zmm0\n\tvpermb %%ymm0, %%ymm0, %%ymm0\n\tvzeroupper" ::: "xmm0");
}

class HardwareQuery final : public ProcessorQuery {
public:
    bool Identify(uint32_t leaf, uint32_t subleaf, CpuidRegisters& out) const override {
        CpuidRegisters r{};
        const int ran = RunGuarded([&] { __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx); });
        if (ran) out = r;
        return ran != 0;
    }
    uint64_t SavedStateMask() const override {
        uint32_t lo = 0, hi = 0;
        asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        return (static_cast<uint64_t>(hi) << 32) | lo;
    }
    int Probe(int32_t instructionClass) const override { return ProbeInstructionClass(instructionClass); }
    int ProbeWide(int32_t wideFeature) const override { return ProbeWideInstructionClass(wideFeature); }
};
#endif

bool VendorIs(const char* vendor, const char* expected) { return std::memcmp(vendor, expected, 12) == 0; }

}  // namespace

#if ZELVIK_X86
namespace {
// Each instruction class is probed at most once per process; later calls give the same outcome.
template <void (*kProbe)()>
int ProbeOnce() {
    static std::once_flag once;
    static int outcome = 0;
    std::call_once(once, [] { outcome = RunGuarded(kProbe); });
    return outcome;
}
}  // namespace
#endif

int ProbeInstructionClass(int32_t instructionClass) {
#if ZELVIK_X86
    switch (instructionClass) {
        case kCpuMmx: return ProbeOnce<ProbeMmx>();
        case kCpuSse: return ProbeOnce<ProbeSse>();
        case kCpuSse2: return ProbeOnce<ProbeSse2>();
        case kCpu3DNow: return ProbeOnce<Probe3DNow>();
        default: return 1;
    }
#else
    switch (instructionClass) {
        case kCpuMmx:
        case kCpuSse:
        case kCpuSse2:
        case kCpu3DNow: return 0;
        default: return 1;
    }
#endif
}

int ProbeWideInstructionClass(int32_t wideFeature) {
#if ZELVIK_X86
    switch (wideFeature) {
        case kCpuSsse3: return ProbeOnce<ProbeSsse3>();
        case kCpuSse41: return ProbeOnce<ProbeSse41>();
        case kCpuAvx2: return ProbeOnce<ProbeAvx2>();
        case kCpuAvx512Vbmi: return ProbeOnce<ProbeAvx512Vbmi>();
        default: return 0;
    }
#else
    (void)wideFeature;
    return 0;
#endif
}

void NameProcessor(int32_t family, int32_t model, const char* vendor, char* name) {
    std::memset(name, 0, 31);
    const char* n = nullptr;
    if (VendorIs(vendor, "AuthenticAMD")) {
        if (family == 4) n = "AMD Am486";
        else if (family == 5 && model >= 0 && model <= 3) n = "AMD K5";
        else if (family == 5 && (model == 6 || model == 7)) n = "AMD K6";
        else if (family == 5 && model == 8) n = "AMD K6-2";
        else if (family == 5 && model >= 9 && model <= 15) n = "AMD K6-3";
        else if (family == 6) n = "AMD ATHLON";
    } else if (VendorIs(vendor, "GenuineIntel")) {
        if (family == 4) {
            switch (model) {
                case 0:
                case 1: n = "INTEL 486DX"; break;
                case 2: n = "INTEL 486SX"; break;
                case 3: n = "INTEL 486DX2"; break;
                case 4: n = "INTEL 486SL"; break;
                case 5: n = "INTEL 486SX2"; break;
                case 7: n = "INTEL 486DX2E"; break;
                case 8: n = "INTEL 486DX4"; break;
                default: break;
            }
        } else if (family == 5) {
            if (model >= 1 && model <= 3) n = "INTEL Pentium";
            else if (model == 4) n = "INTEL Pentium-MMX";
        } else if (family == 6) {
            switch (model) {
                case 1: n = "INTEL Pentium-Pro"; break;
                case 3:
                case 5: n = "INTEL Pentium-II"; break;
                case 6: n = "INTEL Celeron"; break;
                case 7:
                case 8:
                case 10: n = "INTEL Pentium-III"; break;
                default: break;
            }
        } else if (family == 15 && model == 0) {
            n = "INTEL Pentium-4";
        }
    } else if (VendorIs(vendor, "CyrixInstead")) {
        n = "Cyrix";
    } else if (VendorIs(vendor, "CentaurHauls")) {
        n = "Centaur";
    }
    std::strncpy(name, n ? n : "Unknown", 30);
}

int32_t DetectProcessorWith(const ProcessorQuery& query, CpuInfo* record) {
    CpuidRegisters leaf0{};
    if (!query.Identify(0, 0, leaf0)) return 0;
    CpuidRegisters leaf1{}, ext0{}, ext1{}, leaf7{};
    if (leaf0.eax >= 1) query.Identify(1, 0, leaf1);
    query.Identify(0x80000000u, 0, ext0);
    const uint32_t extEdx = (ext0.eax >= 0x80000001u && query.Identify(0x80000001u, 0, ext1)) ? ext1.edx : 0;

    struct Row {
        int32_t bit;
        uint32_t reported;  // nonzero when the processor reports the feature
    };
    const Row rows[] = {
        {kCpuMmx, (leaf1.edx >> 23) & 1},   {kCpu3DNow, (extEdx >> 31) & 1},     {kCpuSse, (leaf1.edx >> 25) & 1},
        {kCpuSse2, (leaf1.edx >> 26) & 1},  {kCpuSse3, (leaf1.ecx >> 0) & 1},    {kCpuLeaf1Ecx8, (leaf1.ecx >> 8) & 1},
    };
    int32_t reported = 0, usable = 0;
    for (const Row& row : rows) {
        if (!row.reported) continue;
        reported |= row.bit;
        if (query.Probe(row.bit) == 1) usable |= row.bit;
    }

    // Wide sets: reported by the leaves, and for AVX the system must save the wider registers.
    if (leaf0.eax >= 7) query.Identify(7, 0, leaf7);
    const bool osxsave = (leaf1.ecx >> 27) & 1;
    const uint64_t xcr0 = osxsave ? query.SavedStateMask() : 0;
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;
    const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;
    const Row wideRows[] = {
        {kCpuSsse3, (leaf1.ecx >> 9) & 1},
        {kCpuSse41, (leaf1.ecx >> 19) & 1},
        {kCpuAvx2, ((leaf1.ecx >> 28) & 1) && ((leaf7.ebx >> 5) & 1) && ymmSaved ? 1u : 0u},
        {kCpuAvx512Vbmi,
         ((leaf7.ebx >> 16) & 1) && ((leaf7.ebx >> 30) & 1) && ((leaf7.ebx >> 31) & 1) && ((leaf7.ecx >> 1) & 1) &&
                 zmmSaved
             ? 1u
             : 0u},
    };
    int32_t wideReported = 0, wideUsable = 0;
    for (const Row& row : wideRows) {
        if (!row.reported) continue;
        wideReported |= row.bit;
        if (query.ProbeWide(row.bit) == 1) wideUsable |= row.bit;
    }

    if (record != nullptr) {
        std::memset(record, 0, sizeof *record);
        const uint32_t signature = leaf1.eax;
        int32_t family = static_cast<int32_t>((signature >> 8) & 0xF);
        if (family == 0xF) family = static_cast<int32_t>(((signature >> 20) & 0xFF) * 16 + 15);
        record->family = family;
        record->model = static_cast<int32_t>((signature >> 4) & 0xF);
        record->stepping = static_cast<int32_t>(signature & 0xF);
        record->reported = reported;
        record->usable = usable;
        std::memcpy(record->vendor + 0, &leaf0.ebx, 4);
        std::memcpy(record->vendor + 4, &leaf0.edx, 4);
        std::memcpy(record->vendor + 8, &leaf0.ecx, 4);
        record->vendor[12] = '\0';
        NameProcessor(record->family, record->model, record->vendor, record->name);
        record->examined = kCpuExamined;
        record->wideReported = wideReported;
        record->wideUsable = wideUsable;
    }
    return reported;
}

int32_t DetectProcessor(CpuInfo* record) {
#if ZELVIK_X86
    // The hardware is examined once per process; every later caller gets a copy of that record.
    struct Detection {
        int32_t reported = 0;
        bool written = false;
        CpuInfo info{};
    };
    static std::once_flag once;
    static Detection host;
    std::call_once(once, [] {
        host.info.examined = -1;  // tells whether detection wrote the record
        host.reported = DetectProcessorWith(HardwareQuery(), &host.info);
        host.written = host.info.examined != -1;
    });
    if (record != nullptr && host.written) *record = host.info;
    return host.reported;
#else
    (void)record;
    return 0;  // no identification instruction: every kernel takes its portable form
#endif
}

}  // namespace zelvik
