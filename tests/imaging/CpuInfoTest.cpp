// Processor detection on given register values and probe outcomes, the name table, and the real probes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "imaging/CpuInfo.h"
#include "imaging/Demosaic.h"
#include "imaging/Kernels.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

// A processor described by its identification leaves and which probe classes fault.
struct ScriptedProcessor : ProcessorQuery {
    bool identifyFaults = false;
    std::map<uint32_t, CpuidRegisters> leaves;
    int32_t faulting = 0;      // CpuFeature classes whose probe faults
    int32_t wideFaulting = 0;  // CpuWideFeature bits whose probe faults
    uint64_t xcr0 = 0;
    mutable int probes = 0;

    ScriptedProcessor(const char* vendor, uint32_t signature, uint32_t ecx, uint32_t edx, uint32_t extEdx = 0) {
        CpuidRegisters l0{1, 0, 0, 0};
        std::memcpy(&l0.ebx, vendor, 4);
        std::memcpy(&l0.edx, vendor + 4, 4);
        std::memcpy(&l0.ecx, vendor + 8, 4);
        leaves[0] = l0;
        leaves[1] = {signature, 0, ecx, edx};
        leaves[0x80000000u] = {extEdx ? 0x80000001u : 0u, 0, 0, 0};
        leaves[0x80000001u] = {0, 0, 0, extEdx};
    }
    bool Identify(uint32_t leaf, uint32_t, CpuidRegisters& out) const override {
        if (identifyFaults) return false;
        auto it = leaves.find(leaf);
        out = it == leaves.end() ? CpuidRegisters{} : it->second;
        return true;
    }
    uint64_t SavedStateMask() const override { return xcr0; }
    int Probe(int32_t c) const override {
        ++probes;
        return (faulting & c) ? 0 : 1;
    }
    int ProbeWide(int32_t c) const override { return (wideFaulting & c) ? 0 : 1; }
};

constexpr uint32_t kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;

uint32_t Signature(uint32_t family, uint32_t model, uint32_t stepping, uint32_t extFamily = 0) {
    return (extFamily << 20) | (family << 8) | (model << 4) | stepping;
}

TEST(CpuInfo, SignatureArithmeticAndNames) {
    struct Case {
        const char* vendor;
        uint32_t signature;
        int32_t family, model, stepping;
        const char* name;
    } cases[] = {
        {"GenuineIntel", Signature(0xF, 2, 9), 15, 2, 9, "Unknown"},  // only model 0 of family 15 is named
        {"GenuineIntel", Signature(0xF, 0, 1), 15, 0, 1, "INTEL Pentium-4"},
        {"GenuineIntel", Signature(0xF, 4, 0, 1), 31, 4, 0, "Unknown"},
        {"GenuineIntel", Signature(6, 13, 0), 6, 13, 0, "Unknown"},
        {"GenuineIntel", Signature(6, 10, 3), 6, 10, 3, "INTEL Pentium-III"},
        {"GenuineIntel", Signature(4, 7, 0), 4, 7, 0, "INTEL 486DX2E"},
        {"GenuineIntel", Signature(5, 4, 0), 5, 4, 0, "INTEL Pentium-MMX"},
        {"AuthenticAMD", Signature(5, 8, 0), 5, 8, 0, "AMD K6-2"},
        {"AuthenticAMD", Signature(5, 4, 0), 5, 4, 0, "Unknown"},
        {"AuthenticAMD", Signature(6, 2, 0), 6, 2, 0, "AMD ATHLON"},
        {"AuthenticAMD", Signature(0xF, 1, 0, 0xA), 175, 1, 0, "Unknown"},  // extended model bits not added
        {"CyrixInstead", Signature(9, 9, 9), 9, 9, 9, "Cyrix"},
        {"CentaurHauls", Signature(6, 0, 0), 6, 0, 0, "Centaur"},
        {"HygonGenuine", Signature(6, 1, 0), 6, 1, 0, "Unknown"},
    };
    for (const Case& c : cases) {
        ScriptedProcessor cpu(c.vendor, c.signature, 0, kMmx);
        CpuInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(DetectProcessorWith(cpu, &info), kCpuMmx);
        EXPECT_STREQ(info.vendor, c.vendor);
        EXPECT_EQ(info.family, c.family) << c.vendor << " " << c.name;
        EXPECT_EQ(info.model, c.model);
        EXPECT_EQ(info.stepping, c.stepping);
        EXPECT_STREQ(info.name, c.name) << c.vendor << " family " << c.family << " model " << c.model;
        EXPECT_EQ(info.examined, 0x3F);
    }
}

TEST(CpuInfo, ReportedAndUsableFollowTheProbes) {
    // Every classic bit reported; SSE2 and 3DNow! probes fault.
    ScriptedProcessor cpu("AuthenticAMD", Signature(6, 4, 2), 1u | (1u << 8), kMmx | kSse | kSse2, 1u << 31);
    cpu.faulting = kCpuSse2 | kCpu3DNow;
    CpuInfo info{};
    EXPECT_EQ(DetectProcessorWith(cpu, &info), 0x3F);
    EXPECT_EQ(info.reported, 0x3F);
    EXPECT_EQ(info.usable, 0x3F & ~(kCpuSse2 | kCpu3DNow));
    EXPECT_FALSE(CpuHas(info, kCpuSse2));
    EXPECT_FALSE(CpuHas(info, kCpu3DNow));

    // Nothing reported: nothing probed, nothing usable; a null record only returns the bits.
    ScriptedProcessor bare("GenuineIntel", Signature(4, 0, 0), 0, 0);
    EXPECT_EQ(DetectProcessorWith(bare, nullptr), 0);
    EXPECT_EQ(bare.probes, 0);
}

TEST(CpuInfo, FaultingIdentificationLeavesRecordUntouched) {
    ScriptedProcessor cpu("GenuineIntel", Signature(6, 1, 0), 0, kMmx);
    cpu.identifyFaults = true;
    CpuInfo info;
    std::memset(&info, 0x33, sizeof info);
    CpuInfo before = info;
    EXPECT_EQ(DetectProcessorWith(cpu, &info), 0);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
}

TEST(CpuInfo, DemosaicVariantFollowsTheRecord) {
    struct Case {
        uint32_t ecx, edx;
        int32_t faulting;
        DemosaicVariant expected;
        VectorForm form;
    } cases[] = {
        {1, kMmx | kSse | kSse2, 0, DemosaicVariant::kFast16, VectorForm::kSse2},  // SSE3
        {0, kMmx | kSse | kSse2, 0, DemosaicVariant::kFast16, VectorForm::kSse2},  // SSE2
        // SSE2 reported but its probe faults: nothing vectorised runs.
        {0, kMmx | kSse | kSse2, kCpuSse2, DemosaicVariant::kFast8, VectorForm::kPortable},
        {0, kMmx, 0, DemosaicVariant::kFast8, VectorForm::kPortable},
        {0, kMmx, kCpuMmx, DemosaicVariant::kPortable, VectorForm::kPortable},
        {0, 0, 0, DemosaicVariant::kPortable, VectorForm::kPortable},
    };
    for (const Case& c : cases) {
        ScriptedProcessor cpu("GenuineIntel", Signature(6, 8, 0), c.ecx, c.edx);
        cpu.faulting = c.faulting;
        CpuInfo info{};
        DetectProcessorWith(cpu, &info);
        const ImagingKernels kernels = ChooseImagingKernels(info);
        const DemosaicKernels& k = kernels.demosaic;
        EXPECT_EQ(k.fastInterior.variant, c.expected);
        EXPECT_EQ(k.interior.variant, DemosaicVariant::kPortable);
        EXPECT_EQ(FormOf(*k.fastInterior.rows), c.form);
        EXPECT_EQ(FormOf(*k.interior.rows), c.form);
        EXPECT_EQ(kernels.hotPixels->form, c.form);
        BayerParams gains{0, 100, 100, 100};
        EXPECT_EQ(&SelectDemosaicInterior(k, 24, gains), &k.fastInterior);
        EXPECT_EQ(&SelectDemosaicInterior(k, 32, gains), &k.interior);  // 32-bit: portable arithmetic
        for (BayerParams high : {BayerParams{0, 201, 100, 100}, BayerParams{0, 100, 201, 100}, BayerParams{0, 100, 100, 201}})
            EXPECT_EQ(&SelectDemosaicInterior(k, 24, high), &k.interior);
        EXPECT_EQ(kernels.siteGains, CpuHas(info, kCpuSse2) || CpuHas(info, kCpuMmx) ? SiteGainKernel(ApplySiteGainsFast)
                                                                                    : SiteGainKernel(ApplySiteGains));
    }
}

TEST(CpuInfo, WideSetsNeedTheSavedRegisterState) {
    ScriptedProcessor cpu("GenuineIntel", Signature(6, 8, 0), (1u << 9) | (1u << 19) | (1u << 27) | (1u << 28),
                          kMmx | kSse | kSse2);
    cpu.leaves[0] = {7, cpu.leaves[0].ebx, cpu.leaves[0].ecx, cpu.leaves[0].edx};
    cpu.leaves[7] = {0, 1u << 5, 0, 0};
    CpuInfo info{};
    DetectProcessorWith(cpu, &info);  // XCR0 = 0: the system does not save YMM registers
    EXPECT_EQ(info.wideReported, kCpuSsse3 | kCpuSse41);
    cpu.xcr0 = 0x7;
    DetectProcessorWith(cpu, &info);
    EXPECT_EQ(info.wideReported, kCpuSsse3 | kCpuSse41 | kCpuAvx2);
    EXPECT_TRUE(CpuHasWide(info, kCpuAvx2));
    cpu.wideFaulting = kCpuAvx2;
    DetectProcessorWith(cpu, &info);
    EXPECT_FALSE(CpuHasWide(info, kCpuAvx2));
    const ImagingKernels k = ChooseImagingKernels(info);
    EXPECT_EQ(k.demosaic.fastInterior.variant, DemosaicVariant::kFast16);
    EXPECT_EQ(DescribeKernelForms(k), "demosaic sse2 (fast16), site gains fast, hot pixels sse2, sharpen sse2, "
                                      "lookup tables portable, hue/saturation portable");
}

#if defined(__x86_64__) || defined(__i386__)
TEST(CpuInfo, RealProcessorAndFaultGuard) {
    CpuInfo info{};
    const int32_t reported = DetectProcessor(&info);
    EXPECT_EQ(reported, info.reported);
    EXPECT_EQ(info.examined, 0x3F);
    EXPECT_EQ(std::strlen(info.vendor), 12u);
    // x86-64 always has these, and their probes run.
    EXPECT_TRUE(CpuHas(info, kCpuMmx));
    EXPECT_TRUE(CpuHas(info, kCpuSse2));
    EXPECT_EQ(ProbeInstructionClass(kCpuSse2), 1);
    EXPECT_EQ(ProbeInstructionClass(0x40), 1);  // unknown classes run nothing
    // Current processors dropped 3DNow!: the reciprocal faults and the guard turns it into 0.
    if (!(info.reported & kCpu3DNow)) {
        EXPECT_EQ(ProbeInstructionClass(kCpu3DNow), 0);
    } else {
        EXPECT_EQ((info.usable & kCpu3DNow) != 0, ProbeInstructionClass(kCpu3DNow) == 1);
    }
    // The guard leaves the process able to probe again, and detection is repeatable.
    CpuInfo again{};
    EXPECT_EQ(DetectProcessor(&again), reported);
    EXPECT_EQ(std::memcmp(&info, &again, sizeof info), 0);
    std::printf("processor: %s %s; %s\n", info.vendor, info.name, DescribeKernelForms(ChooseImagingKernels(info)).c_str());
    EXPECT_EQ(HostKernelForms(), DescribeKernelForms(ChooseImagingKernels(info)));
}
#endif

}  // namespace
}  // namespace zelvik
