// The property sheets: their pages, buttons and defaults.
#include "dialogs/widgets/PropertySheets.h"

#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace zelvik::dialogs {

PropertySheet::PropertySheet(DialogHost& host, Language language, QWidget* parent)
    : QDialog(parent), host_(host), tabs_(new QTabWidget(this)) {
    setWindowTitle(language(text::kCaption));
    controls_.Add(1001, tabs_);
    auto* ok = new QPushButton(language(text::kOk), this);
    auto* cancel = new QPushButton(language(text::kCancel), this);
    auto* defaults = new QPushButton(language(text::kDefault), this);
    ok->setDefault(true);
    controls_.Add(1, ok);
    controls_.Add(2, cancel);
    controls_.Add(3, defaults);
    connect(ok, &QPushButton::clicked, this, &PropertySheet::accept);
    connect(cancel, &QPushButton::clicked, this, &PropertySheet::reject);
    connect(defaults, &QPushButton::clicked, this, [this] { RestoreDefaults(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(ButtonRow({ok, cancel, defaults}));
}

void PropertySheet::AddPage(SettingsPage* page, const QString& title) {
    tabs_->addTab(page, title);
}

void PropertySheet::accept() {
    CollectPages();
    done(kDialogOk);
}

void PropertySheet::reject() {
    done(kDialogCancel);
}

// ---- Analog ----

AnalogSheet::AnalogSheet(DialogHost& host, Language language, QWidget* parent)
    : PropertySheet(host, language, parent), page_(new AnalogPage(host)) {
    AddPage(page_, QStringLiteral("Analog Gain"));
}

void AnalogSheet::CollectPages() {
    page_->Collect();
}

void AnalogSheet::RestoreDefaults() {
    // Gains and exposure only: the mirrors and the automatic exposure/gain choice stay.
    SetGlobalGainSlots(16, [this](int slot, int value) { host_.SetAnalogSetting(slot, value); });
    host_.SetAnalogSetting(kExposure, 1100);
    host_.DeviceSetGlobalGain(16);
    for (int reg : {0x2B, 0x2D, 0x2C, 0x2E}) host_.DeviceSetColorGain(reg, 16);
    host_.DeviceSetExposure(1100);
    page_->Display();
}

// ---- Image ----

ImageSheet::ImageSheet(DialogHost& host, Language language, QWidget* parent)
    : PropertySheet(host, language, parent) {
    const ImageEnableFlags flags = EnableFlagsFor(host.ColorMode());
    image_ = new ImagePage(host, flags);
    AddPage(image_, QStringLiteral("Image Filter"));
    if (flags[9]) {
        gray_ = new GrayPage(host);
        AddPage(gray_, QStringLiteral("Gray Filter"));
        // Both pages edit the Bayer mode: a choice on one shows on the other, so that OK, which takes
        // the mode from the image page's radios, keeps the choice made last.
        connect(image_, &ImagePage::bayerModeChosen, gray_, &GrayPage::ShowBayerMode);
        connect(gray_, &GrayPage::bayerModeChosen, image_, &ImagePage::ShowBayerMode);
    }
}

void ImageSheet::ShowCurrentSettings() {
    image_->Display();
    if (gray_) {
        gray_->Display();
        gray_->ShowBayerMode(host_.ImageSetting(kBayerMode));
    }
}

void ImageSheet::CollectPages() {
    image_->Collect();
    if (gray_) gray_->Collect();
}

void ImageSheet::RestoreDefaults() {
    for (int slot : {kBrightness, kContrast, kHue, kSaturation, kSharpness}) host_.SetImageSetting(slot, 0);
    for (int slot : {kBayerGainRed, kBayerGainGreen, kBayerGainBlue, kGamma}) host_.SetImageSetting(slot, 100);
    host_.SetImageSetting(kBayerMode, 3);
    image_->Display();
    if (gray_) {
        // The gray mode stays.
        for (int slot : {kGrayGainR, kGrayGainG1, kGrayGainG2, kGrayGainB}) host_.SetImageSetting(slot, 128);
        for (int slot : {kGrayOffsetR, kGrayOffsetG1, kGrayOffsetG2, kGrayOffsetB}) host_.SetImageSetting(slot, 0);
        gray_->Display();
        gray_->ShowBayerMode(3);
    }
}

}  // namespace zelvik::dialogs
