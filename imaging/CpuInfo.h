// Processor detection: the record whose feature bits choose the vectorised kernel forms.
#pragma once

#include <cstdint>

namespace zelvik {

enum CpuFeature : int32_t {
    kCpuMmx = 0x01,
    kCpuSse = 0x02,
    kCpuSse2 = 0x04,
    kCpu3DNow = 0x08,
    kCpuSse3 = 0x10,
    kCpuLeaf1Ecx8 = 0x20,  // leaf 1 ECX bit 8, carried for information
    kCpuExamined = 0x3F,
};

// Wider instruction sets, outside the six classic bits: they only pick a wider implementation of a
// kernel whose bytes are the same, never a different kernel.
enum CpuWideFeature : int32_t {
    kCpuSsse3 = 0x01,
    kCpuSse41 = 0x02,
    kCpuAvx2 = 0x04,       // with the operating system saving the YMM state
    kCpuAvx512Vbmi = 0x08,  // AVX-512 F, BW, VL and VBMI with the ZMM state saved
};

struct CpuInfo {
    char vendor[13];  // leaf 0 EBX, EDX, ECX, zero-terminated
    char name[31];    // from NameProcessor
    int32_t family;
    int32_t model;
    int32_t stepping;
    int32_t reported;  // CpuFeature bits the processor reports
    int32_t usable;    // CpuFeature bits whose probe ran
    int32_t examined;  // always kCpuExamined once written
    int32_t wideReported;  // CpuWideFeature bits reported
    int32_t wideUsable;    // CpuWideFeature bits whose probe ran
};

// A feature counts only when it is both reported and usable.
inline bool CpuHas(const CpuInfo& info, int32_t feature) {
    return (info.reported & feature) != 0 && (info.usable & feature) != 0;
}
inline bool CpuHasWide(const CpuInfo& info, int32_t feature) {
    return (info.wideReported & feature) != 0 && (info.wideUsable & feature) != 0;
}

struct CpuidRegisters {
    uint32_t eax, ebx, ecx, edx;
};

// What detection asks of the processor. The real one executes the instructions; tests substitute
// register values and probe outcomes.
class ProcessorQuery {
public:
    virtual ~ProcessorQuery() = default;
    // One identification leaf; false when the instruction faulted.
    virtual bool Identify(uint32_t leaf, uint32_t subleaf, CpuidRegisters& out) const = 0;
    // The extended control register 0 (which register states the system saves); 0 if unavailable.
    virtual uint64_t SavedStateMask() const = 0;
    // ProbeInstructionClass / ProbeWideInstructionClass outcomes.
    virtual int Probe(int32_t instructionClass) const = 0;
    virtual int ProbeWide(int32_t wideFeature) const = 0;
};

// Identifies this processor. The hardware is examined once per process (the probes briefly install
// process-wide fault handlers); every call copies that record. With a record, writes it. Returns the
// reported CpuFeature bits, or 0 with the record untouched when the identification instruction cannot run.
int32_t DetectProcessor(CpuInfo* record);
int32_t DetectProcessorWith(const ProcessorQuery& query, CpuInfo* record);

// Writes the model name for a vendor string (12 characters compared), family and model.
void NameProcessor(int32_t family, int32_t model, const char* vendor, char* name);

// 1 when one instruction of the class ran without faulting: 1 MMX, 2 SSE, 4 SSE2, 8 3DNow!; any other
// class runs nothing and gives 1. 0 on processors without these instructions. Each class is probed
// once per process; later calls give the first outcome.
int ProbeInstructionClass(int32_t instructionClass);
// The same for one CpuWideFeature bit; unknown bits give 0.
int ProbeWideInstructionClass(int32_t wideFeature);

}  // namespace zelvik
