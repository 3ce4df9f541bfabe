// The pages of the two property sheets: analog gains and exposure, image filter, gray filter.
#pragma once

#include <array>
#include <vector>

#include <QWidget>

#include "dialogs/DialogHost.h"
#include "dialogs/widgets/Controls.h"

class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLabel;

namespace zelvik::dialogs {

// The image sheet's enable flags, from the stream format's colour mode: 0..8 the nine image sliders,
// 9 the gray page, 15 the white-balance and Bayer controls of the image page (16 and 17 are kept for
// completeness; no page reads them).
using ImageEnableFlags = std::array<bool, 19>;
ImageEnableFlags EnableFlagsFor(int colorMode);

// One slider triple of a page: its ids, label, range, tick frequency and settings slot.
struct SliderSpec {
    SliderTriple::Ids ids;
    const char* label;
    int minimum, maximum, tickFrequency;
    int slot;
};

// A page edits one of the camera's settings records live. Until its initialisation ends (ready flag)
// the controls' change signals do nothing.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    const ControlRegistry& Controls() const { return controls_; }
    // Writes the slots back into the sliders; the edits' change handling runs as for typed text.
    virtual void Display() = 0;
    // Reads every slider edit into its slot.
    virtual void Collect() = 0;

protected:
    SettingsPage(DialogHost& host, QWidget* parent) : QWidget(parent), host_(host) {}

    // One slider triple and the settings slot it edits.
    struct Slider {
        SliderTriple* triple;
        int slot;
    };

    DialogHost& host_;
    ControlRegistry controls_;
    bool ready_ = false;
};

class AnalogPage : public SettingsPage {
    Q_OBJECT
public:
    AnalogPage(DialogHost& host, QWidget* parent = nullptr);
    void Display() override;
    void Collect() override;
    // The automatic exposure/gain control's new value, written into edit 1015 or 1027 as typed text.
    void TypeValue(int editId, int value);
    // The global gain and exposure the settings hold now, typed into their edits where they differ from
    // what the page shows: what the control wrote before the open dialog could be told of it.
    void ShowControlValues();

private:
    void EditChanged(std::size_t index, int value);
    void ShowExposureTime();
    void AutoIrisClicked(bool gainBox, bool checked);

    std::vector<Slider> sliders_;  // global, G1, R, B, G2, exposure
    QCheckBox* mirrorV_ = nullptr;
    QCheckBox* mirrorH_ = nullptr;
    QCheckBox* irisGain_ = nullptr;
    QCheckBox* irisExposure_ = nullptr;
    QLabel* exposureTime_ = nullptr;
};

// The image and gray pages: sliders that store their imageSettings slot at once, and Bayer-mode radios.
class FilterPage : public SettingsPage {
    Q_OBJECT
public:
    void Display() override;
    void Collect() override;
    // Checks the radio of Bayer mode `mode` (none for a mode outside 0..3) without running its action.
    void ShowBayerMode(int mode);

signals:
    void bayerModeChosen(int mode);

protected:
    FilterPage(DialogHost& host, QWidget* parent) : SettingsPage(host, parent) {}
    // A slider in row `row` of grid, its controls children of `owner`.
    SliderTriple* AddSlider(QWidget* owner, QGridLayout* grid, int row, const SliderSpec& spec);
    // The four Bayer-mode radios (1030..1033) in box.
    void AddBayerRadios(QGroupBox* box);

    std::vector<Slider> sliders_;
    QButtonGroup* bayer_ = nullptr;
    QCheckBox* allFrames_ = nullptr;
};

class ImagePage : public FilterPage {
    Q_OBJECT
public:
    ImagePage(DialogHost& host, const ImageEnableFlags& flags, QWidget* parent = nullptr);
    void Display() override;
    void Collect() override;
};

class GrayPage : public FilterPage {
    Q_OBJECT
public:
    GrayPage(DialogHost& host, QWidget* parent = nullptr);

private:
    QButtonGroup* mode_ = nullptr;
};

}  // namespace zelvik::dialogs
