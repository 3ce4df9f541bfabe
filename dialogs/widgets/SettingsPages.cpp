// The analog, image and gray pages: slider triples bound to settings slots and their live actions.
#include "dialogs/widgets/SettingsPages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "instance/ColorModes.h"
#include "settings/FilterValueTable.h"

namespace zelvik::dialogs {
namespace {

// A slider over a filter value's whole range: the dialogs show what the filter table accepts.
constexpr SliderSpec FilterSlider(SliderTriple::Ids ids, const char* label, int index, int tickFrequency) {
    const FilterValueInfo& f = *FindFilterValue(index);
    return {ids, label, f.min, f.max, tickFrequency, f.slot};
}

// Analog page: analogSettings slots; the four colour gains are the sensor registers beside them. The
// exposure slider spans the sensor's exposures (1..16383); the filter value also takes 0, which the
// sensor raises to 1.
constexpr SliderSpec kAnalogSliders[] = {
    FilterSlider({1014, 1015, 1038}, "&Global Gain", kFilterGlobalGain, 7),
    FilterSlider({1018, 1019, 1039}, "&Color Gain G1", kFilterColorGainGreen1, 7),
    FilterSlider({1020, 1021, 1040}, "&Color Gain R", kFilterColorGainRed, 7),
    FilterSlider({1022, 1023, 1041}, "&Color Gain B", kFilterColorGainBlue, 7),
    FilterSlider({1024, 1025, 1042}, "&Color Gain G2", kFilterColorGainGreen2, 7),
    {{1026, 1027, 1043}, "&Exposure", sensor::kExposureMin, sensor::kExposureMax, 2047, kExposure},
};
constexpr int kColorGainRegisters[] = {0x2B, 0x2D, 0x2C, 0x2E};  // G1, R, B, G2: sliders 1..4
constexpr std::size_t kGlobalSlider = 0, kExposureSlider = 5;

// Image page: imageSettings slots 0..8, enabled by flags 0..8 in this order.
constexpr SliderSpec kImageSliders[] = {
    FilterSlider({2001, 2002, 2004}, "&Brightness", kFilterBrightness, 64),
    FilterSlider({2011, 2012, 2014}, "&Contrast", kFilterContrast, 32),
    FilterSlider({2021, 2022, 2024}, "&Hue", kFilterHue, 90),
    FilterSlider({2031, 2032, 2034}, "&Saturation", kFilterSaturation, 64),
    FilterSlider({2041, 2042, 2044}, "Shar&pness", kFilterSharpness, 4),
    FilterSlider({2051, 2052, 2054}, "&R Gain", kFilterBayerGainRed, 32),
    FilterSlider({2061, 2062, 2063}, "&G Gain", kFilterBayerGainGreen, 32),
    FilterSlider({2071, 2072, 2073}, "&B Gain", kFilterBayerGainBlue, 32),
    FilterSlider({2081, 2082, 2084}, "&Gamma", kFilterGamma, 32),
};

// Gray page: four gains, then four offsets, slots 12..19. The gain sliders span 0..200 with the neutral
// 128 inside; the filter values take up to 255, which a gain set through the API or typed may use (the
// trackbar then shows its end).
constexpr int kGrayGainSliderMax = 200;
constexpr SliderSpec GrayGainSlider(SliderTriple::Ids ids, const char* label, int index) {
    SliderSpec spec = FilterSlider(ids, label, index, 32);
    spec.maximum = kGrayGainSliderMax;
    return spec;
}
constexpr SliderSpec kGraySliders[] = {
    GrayGainSlider({2100, 2101, 2102}, "Red", kFilterGrayGainR),
    GrayGainSlider({2103, 2104, 2105}, "Green1", kFilterGrayGainG1),
    GrayGainSlider({2106, 2107, 2108}, "Green2", kFilterGrayGainG2),
    GrayGainSlider({2109, 2110, 2111}, "Blue", kFilterGrayGainB),
    FilterSlider({2112, 2113, 2114}, "Red", kFilterGrayOffsetR, 32),
    FilterSlider({2115, 2116, 2117}, "Green1", kFilterGrayOffsetG1, 32),
    FilterSlider({2118, 2119, 2120}, "Green2", kFilterGrayOffsetG2, 32),
    FilterSlider({2121, 2122, 2123}, "Blue", kFilterGrayOffsetB, 32),
};

// Every slider stays inside what its filter value accepts: a trackbar never offers a value the library
// would refuse.
template <std::size_t N>
constexpr bool InsideTheFilterRanges(const SliderSpec (&sliders)[N], FilterBlock block) {
    // Compared by value, not by a found pointer: GCC's sanitizer builds cannot fold a pointer's test
    // against null in a constant expression.
    for (const SliderSpec& s : sliders) {
        bool inside = false;
        for (const FilterValueInfo& f : kFilterValues)
            if (f.block == block && f.slot == s.slot && f.action != FilterAction::PackedRgb)
                inside = s.minimum >= f.min && s.maximum <= f.max && s.minimum <= s.maximum;
        if (!inside) return false;
    }
    return true;
}
static_assert(InsideTheFilterRanges(kAnalogSliders, FilterBlock::Analog));
static_assert(InsideTheFilterRanges(kImageSliders, FilterBlock::Image));
static_assert(InsideTheFilterRanges(kGraySliders, FilterBlock::Image));

constexpr int kBayerRadioFirstId = 1030;   // radios 1030..1033: Bayer modes 0..3
constexpr int kGrayModeRadioFirstId = 1045;  // radios 1045..1047: gray modes 0..2
constexpr int kFlagBayerControls = 15;
constexpr int kFlagGrayPage = 9;

// One row of a grid: label, trackbar, edit, up-down.
void PlaceTriple(QGridLayout* grid, int row, SliderTriple* t) {
    grid->addWidget(t->Label(), row, 0);
    grid->addWidget(t->Trackbar(), row, 1);
    grid->addWidget(t->Edit(), row, 2);
    grid->addWidget(t->Spin(), row, 3);
    t->Trackbar()->setMinimumWidth(160);
    t->Edit()->setFixedWidth(t->Edit()->fontMetrics().horizontalAdvance(QStringLiteral("-000000")) + 12);
}

// Checks the radio of choice `value` (registered as first + value) and no other, or none for a value
// outside the group, without any radio's click action.
void CheckOnly(QButtonGroup* group, int first, int value) {
    const int id = value >= 0 && value < static_cast<int>(group->buttons().size()) ? first + value : -1;
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(group->id(b) == id);
    group->setExclusive(true);
}

}  // namespace

ImageEnableFlags EnableFlagsFor(int colorMode) {
    ImageEnableFlags flags{};
    const ColorModeInfo* mode = FindColorMode(colorMode);
    const bool monochrome = mode != nullptr && !mode->color;
    for (int i = 0; i < 9; ++i) flags[i] = true;
    if (monochrome) {
        for (int i : {kHue, kSaturation, kBayerGainRed, kBayerGainGreen, kBayerGainBlue}) flags[i] = false;
        flags[kFlagGrayPage] = true;
    } else {
        flags[kFlagBayerControls] = flags[16] = flags[17] = true;
    }
    return flags;
}

// ---- Analog page ----

AnalogPage::AnalogPage(DialogHost& host, QWidget* parent) : SettingsPage(host, parent) {
    auto* grid = new QGridLayout(this);
    for (const SliderSpec& s : kAnalogSliders) {
        auto* triple = new SliderTriple(this, QString::fromLatin1(s.label), s.ids, s.minimum, s.maximum,
                                        s.tickFrequency, controls_);
        const std::size_t index = sliders_.size();
        sliders_.push_back({triple, s.slot});
        PlaceTriple(grid, static_cast<int>(index), triple);
        // A moved trackbar writes the edit, whose change does the rest.
        connect(triple, &SliderTriple::trackbarMoved, triple, &SliderTriple::WriteEdit);
        connect(triple, &SliderTriple::editChanged, this, [this, index](int v) { EditChanged(index, v); });
    }

    mirrorV_ = new QCheckBox(QStringLiteral("Mirror V"), this);
    mirrorH_ = new QCheckBox(QStringLiteral("Mirror H"), this);
    irisGain_ = new QCheckBox(QStringLiteral("Gain"), this);
    irisExposure_ = new QCheckBox(QStringLiteral("Exposure"), this);
    exposureTime_ = new QLabel(QStringLiteral("= msec"), this);
    exposureTime_->setMinimumWidth(exposureTime_->fontMetrics().horizontalAdvance(QStringLiteral("=00000.00ms")));
    controls_.Add(1029, mirrorV_);
    controls_.Add(1030, mirrorH_);
    controls_.Add(1036, irisGain_);
    controls_.Add(1037, irisExposure_);
    controls_.Add(1048, exposureTime_);
    grid->addWidget(exposureTime_, static_cast<int>(kExposureSlider) + 1, 1, 1, 3, Qt::AlignRight);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(mirrorV_);
    bottom->addWidget(mirrorH_);
    bottom->addSpacing(24);
    bottom->addWidget(new QLabel(QStringLiteral("Auto Iris"), this));
    bottom->addWidget(irisGain_);
    bottom->addWidget(irisExposure_);
    bottom->addStretch(1);
    grid->addLayout(bottom, static_cast<int>(kExposureSlider) + 2, 0, 1, 4);
    grid->setRowStretch(static_cast<int>(kExposureSlider) + 3, 1);

    // A mirror flips the sensor's read-out, so the picture's Bayer phase flips with it.
    connect(mirrorV_, &QCheckBox::clicked, this, [this](bool checked) {
        host_.DeviceSetMirrorV(checked);
        host_.SetAnalogSetting(kMirrorV, checked);
        const int mode = host_.ImageSetting(kBayerMode);
        if (mode >= 0 && mode <= 3) host_.SetImageSetting(kBayerMode, mode ^ 1);
    });
    connect(mirrorH_, &QCheckBox::clicked, this, [this](bool checked) {
        host_.DeviceSetMirrorH(checked);
        host_.SetAnalogSetting(kMirrorH, checked);
        const int mode = host_.ImageSetting(kBayerMode);
        if (mode >= 0 && mode <= 3) host_.SetImageSetting(kBayerMode, mode ^ 2);
    });
    connect(irisGain_, &QCheckBox::clicked, this, [this](bool checked) { AutoIrisClicked(true, checked); });
    connect(irisExposure_, &QCheckBox::clicked, this, [this](bool checked) { AutoIrisClicked(false, checked); });

    for (const Slider& s : sliders_) s.triple->Initialize(host_.AnalogSetting(s.slot), true);
    mirrorV_->setChecked(host_.AnalogSetting(kMirrorV) != 0);
    mirrorH_->setChecked(host_.AnalogSetting(kMirrorH) != 0);
    const int iris = host_.AnalogSetting(kAutoIris);
    irisExposure_->setChecked(iris == 1);
    irisGain_->setChecked(iris == 2);
    ShowExposureTime();
    ready_ = true;
}

void AnalogPage::EditChanged(std::size_t index, int value) {
    if (!ready_) return;
    const Slider& s = sliders_[index];
    host_.SetAnalogSetting(s.slot, value);  // as typed: the range is not enforced
    s.triple->MoveTrackbar(value);
    if (index == kGlobalSlider) {
        host_.DeviceSetGlobalGain(value);
        // The colour gains follow the global gain, each through its own edit.
        for (std::size_t c = 1; c <= 4; ++c) sliders_[c].triple->WriteEdit(value);
    } else if (index == kExposureSlider) {
        host_.DeviceSetExposure(value);
        ShowExposureTime();
    } else {
        host_.DeviceSetColorGain(kColorGainRegisters[index - 1], value);
    }
}

void AnalogPage::ShowExposureTime() {
    const ExposureTiming timing = host_.Exposure();
    const double lines = host_.AnalogSetting(kExposure);
    const double ms = (lines * timing.lineLength - 426.0) * timing.clockPeriod * 0.001;
    exposureTime_->setText(QString::asprintf("=%.2fms", ms));
}

void AnalogPage::AutoIrisClicked(bool gainBox, bool checked) {
    QCheckBox* other = gainBox ? irisExposure_ : irisGain_;
    if (checked) other->setChecked(false);
    host_.SetAnalogSetting(kAutoIris, checked ? (gainBox ? 2 : 1) : 0);
}

void AnalogPage::Display() {
    // Values are taken first: the global gain's edit rewrites the colour gains as it is shown.
    std::vector<int> values;
    for (const Slider& s : sliders_) values.push_back(host_.AnalogSetting(s.slot));
    for (std::size_t i = 0; i < sliders_.size(); ++i) sliders_[i].triple->Display(values[i]);
}

void AnalogPage::Collect() {
    for (const Slider& s : sliders_) host_.SetAnalogSetting(s.slot, s.triple->EditValue());
}

void AnalogPage::TypeValue(int editId, int value) {
    for (const Slider& s : sliders_)
        if (s.triple->Edit() == controls_.Find(editId)) s.triple->WriteEdit(value);
}

void AnalogPage::ShowControlValues() {
    for (std::size_t index : {kGlobalSlider, kExposureSlider}) {
        const Slider& s = sliders_[index];
        const int current = host_.AnalogSetting(s.slot);
        if (s.triple->EditValue() != current) s.triple->WriteEdit(current);
    }
}

// ---- Image page ----

// ---- Image and gray pages ----

SliderTriple* FilterPage::AddSlider(QWidget* owner, QGridLayout* grid, int row, const SliderSpec& spec) {
    auto* triple = new SliderTriple(owner, QString::fromLatin1(spec.label), spec.ids, spec.minimum, spec.maximum,
                                    spec.tickFrequency, controls_);
    PlaceTriple(grid, row, triple);
    sliders_.push_back({triple, spec.slot});
    const int slot = spec.slot;
    connect(triple, &SliderTriple::trackbarMoved, this, [this, triple, slot](int v) {
        triple->WriteEdit(v);
        host_.SetImageSetting(slot, v);
    });
    connect(triple, &SliderTriple::editChanged, this, [this, triple, slot](int v) {
        if (!ready_) return;
        host_.SetImageSetting(slot, v);
        triple->MoveTrackbar(v);
    });
    return triple;
}

void FilterPage::AddBayerRadios(QGroupBox* box) {
    bayer_ = new QButtonGroup(this);
    auto* row = new QHBoxLayout(box);
    for (int mode = 0; mode < 4; ++mode) {
        auto* radio = new QRadioButton(QString::number(mode), box);
        bayer_->addButton(radio, kBayerRadioFirstId + mode);
        controls_.Add(kBayerRadioFirstId + mode, radio);
        row->addWidget(radio);
    }
    connect(bayer_, &QButtonGroup::idClicked, this, [this](int id) {
        host_.SetImageSetting(kBayerMode, id - kBayerRadioFirstId);
        emit bayerModeChosen(id - kBayerRadioFirstId);
    });
}

void FilterPage::ShowBayerMode(int mode) {
    CheckOnly(bayer_, kBayerRadioFirstId, mode);
}

void FilterPage::Display() {
    for (const Slider& s : sliders_) s.triple->Display(host_.ImageSetting(s.slot));
}

void FilterPage::Collect() {
    for (const Slider& s : sliders_) host_.SetImageSetting(s.slot, s.triple->EditValue());
}

ImagePage::ImagePage(DialogHost& host, const ImageEnableFlags& flags, QWidget* parent) : FilterPage(host, parent) {
    auto* grid = new QGridLayout(this);
    for (const SliderSpec& s : kImageSliders) AddSlider(this, grid, static_cast<int>(sliders_.size()), s);

    auto* balance = new QGroupBox(QStringLiteral("Auto white balance"), this);
    auto* balanceRow = new QHBoxLayout(balance);
    auto* once = new QPushButton(QStringLiteral("Once"), balance);
    allFrames_ = new QCheckBox(QStringLiteral("All frames"), balance);
    balanceRow->addWidget(once);
    balanceRow->addWidget(allFrames_);
    controls_.Add(2074, once);
    controls_.Add(1035, allFrames_);
    auto* bayerBox = new QGroupBox(QStringLiteral("Bayer Mode"), this);
    AddBayerRadios(bayerBox);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(balance);
    bottom->addWidget(bayerBox);
    grid->addLayout(bottom, static_cast<int>(sliders_.size()), 0, 1, 4);
    grid->setRowStretch(static_cast<int>(sliders_.size()) + 1, 1);

    connect(allFrames_, &QCheckBox::clicked, this, [this](bool checked) {
        host_.SetImageSetting(kAutoBayerGain, checked ? 1 : 0);
        host_.SetImageSetting(kOneShot1, 0);
        host_.SetImageSetting(kOneShot2, 0);
    });
    connect(once, &QPushButton::clicked, this, [this] {
        for (int slot : {kAutoBayerGain, kOneShot1, kOneShot2}) host_.SetImageSetting(slot, 1);
        allFrames_->setChecked(false);
    });

    for (std::size_t i = 0; i < sliders_.size(); ++i)
        sliders_[i].triple->Initialize(host_.ImageSetting(sliders_[i].slot), flags[i]);
    for (QWidget* w : {static_cast<QWidget*>(balance), static_cast<QWidget*>(bayerBox)})
        w->setEnabled(flags[kFlagBayerControls]);
    ShowBayerMode(host_.ImageSetting(kBayerMode));
    // Checked while the white balance runs on every frame (on, and not a pending one-shot).
    allFrames_->setChecked(host_.ImageSetting(kAutoBayerGain) == 1 && host_.ImageSetting(kOneShot1) == 0);
    ready_ = true;
}

void ImagePage::Display() {
    FilterPage::Display();
    ShowBayerMode(host_.ImageSetting(kBayerMode));
}

void ImagePage::Collect() {
    FilterPage::Collect();
    if (bayer_->checkedId() >= 0) host_.SetImageSetting(kBayerMode, bayer_->checkedId() - kBayerRadioFirstId);
}

// ---- Gray page ----

GrayPage::GrayPage(DialogHost& host, QWidget* parent) : FilterPage(host, parent) {
    auto* gains = new QGroupBox(QStringLiteral("Gain"), this);
    auto* offsets = new QGroupBox(QStringLiteral("Offset"), this);
    auto* gainGrid = new QGridLayout(gains);
    auto* offsetGrid = new QGridLayout(offsets);
    for (const SliderSpec& s : kGraySliders) {
        const bool gain = sliders_.size() < 4;
        AddSlider(gain ? gains : offsets, gain ? gainGrid : offsetGrid, static_cast<int>(sliders_.size() % 4), s);
    }

    auto* modeBox = new QGroupBox(QStringLiteral("Filter mode"), this);
    auto* modeRow = new QVBoxLayout(modeBox);
    mode_ = new QButtonGroup(this);
    const char* modeNames[] = {"Bayer", "Bayer convert", "Grayscale"};
    for (int m = 0; m < 3; ++m) {
        auto* radio = new QRadioButton(QString::fromLatin1(modeNames[m]), modeBox);
        mode_->addButton(radio, kGrayModeRadioFirstId + m);
        controls_.Add(kGrayModeRadioFirstId + m, radio);
        modeRow->addWidget(radio);
    }
    auto* autoGain = new QGroupBox(QStringLiteral("Auto Gain"), this);
    auto* autoRow = new QVBoxLayout(autoGain);
    auto* once = new QPushButton(QStringLiteral("Once"), autoGain);
    allFrames_ = new QCheckBox(QStringLiteral("All frames"), autoGain);
    autoRow->addWidget(once);
    autoRow->addWidget(allFrames_);
    controls_.Add(2074, once);
    controls_.Add(1035, allFrames_);
    auto* bayerBox = new QGroupBox(QStringLiteral("Bayer Mode"), this);
    AddBayerRadios(bayerBox);

    auto* layout = new QGridLayout(this);
    layout->addWidget(gains, 0, 0, 1, 3);
    layout->addWidget(offsets, 1, 0, 1, 3);
    layout->addWidget(modeBox, 2, 0);
    layout->addWidget(autoGain, 2, 1);
    layout->addWidget(bayerBox, 2, 2);
    layout->setRowStretch(3, 1);

    connect(mode_, &QButtonGroup::idClicked, this,
            [this](int id) { host_.SetImageSetting(kGrayMode, id - kGrayModeRadioFirstId); });
    // The box shows whether the gain is measured on every frame: checked -1 (every frame), unchecked 0.
    connect(allFrames_, &QCheckBox::clicked, this,
            [this](bool checked) { host_.SetImageSetting(kGrayAutoCountdown, checked ? -1 : 0); });
    connect(once, &QPushButton::clicked, this, [this] {
        host_.SetImageSetting(kGrayAutoCountdown, 1);
        allFrames_->setChecked(false);
    });

    for (const Slider& s : sliders_) s.triple->Initialize(host_.ImageSetting(s.slot), true);
    CheckOnly(mode_, kGrayModeRadioFirstId, host_.ImageSetting(kGrayMode));
    ShowBayerMode(host_.ImageSetting(kBayerMode));
    allFrames_->setChecked(host_.ImageSetting(kGrayAutoCountdown) == -1);
    ready_ = true;
}

}  // namespace zelvik::dialogs
