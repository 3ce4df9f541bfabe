// The camera dialog: a working copy of the stored video format, written back whole on OK and Apply.
#include "dialogs/widgets/CameraDialog.h"

#include <algorithm>

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace zelvik::dialogs {
namespace {

// The six size fields the edits 1039..1044 show, in their order.
constexpr int32_t CaptureWindow::*kEditFields[6] = {
    &CaptureWindow::TH, &CaptureWindow::TV, &CaptureWindow::EH,
    &CaptureWindow::EV, &CaptureWindow::EHS, &CaptureWindow::EVS,
};
constexpr int kSizeEditIds[6] = {1039, 1040, 1041, 1042, 1043, 1044};

// Selects `index` when it names an item, else nothing.
void SelectIfPresent(QComboBox* list, int index) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

}  // namespace

CameraDialog::CameraDialog(DialogHost& host, Language language, QWidget* parent)
    : QDialog(parent), host_(host), language_(language) {
    Build();
    Load();
}

void CameraDialog::Build() {
    const Language& tr = language_;
    setWindowTitle(tr(text::kCaption));

    auto* tabs = new QTabWidget(this);
    controls_.Add(1001, tabs);
    auto* page = new QWidget;
    tabs->addTab(page, tr(text::kStreamFormat));

    // Video format: the three lists, each under its label.
    auto* video = new QGroupBox(tr(text::kVideoFormat), page);
    auto* videoLayout = new QGridLayout(video);
    videoLayout->setColumnMinimumWidth(0, 16);
    auto addList = [&](int row, const Text& label, int id) {
        auto* list = new QComboBox(video);
        auto* caption = new QLabel(tr(label), video);
        caption->setBuddy(list);
        list->setMinimumWidth(150);
        videoLayout->addWidget(caption, row * 2, 0, 1, 2);
        videoLayout->addWidget(list, row * 2 + 1, 1);
        controls_.Add(id, list);
        return list;
    };
    colorList_ = addList(0, text::kColorCompression, 1009);
    sizeList_ = addList(1, text::kSize, 1010);
    subsampleList_ = addList(2, text::kSubSample, 1012);
    videoLayout->setRowStretch(6, 1);

    // Camera size: six edits in three rows of two, each under its label; the totals cannot be typed into.
    auto* size = new QGroupBox(tr(text::kCameraSize), page);
    auto* sizeLayout = new QGridLayout(size);
    const Text* sizeLabels[6] = {&text::kHTotal, &text::kVTotal, &text::kHEffective,
                                 &text::kVEffective, &text::kHStart, &text::kVStart};
    for (int i = 0; i < 6; ++i) {
        auto* edit = new QLineEdit(size);
        auto* caption = new QLabel(tr(*sizeLabels[i]), size);
        caption->setBuddy(edit);
        edit->setMinimumWidth(80);
        edit->setReadOnly(i < 2);
        const int row = (i / 2) * 2, column = (i % 2) * 2;
        sizeLayout->addWidget(caption, row, column, 1, 2);
        sizeLayout->addWidget(edit, row + 1, column + 1);
        controls_.Add(kSizeEditIds[i], edit);
        sizeEdits_[i] = edit;
    }
    sizeLayout->setColumnMinimumWidth(0, 12);
    sizeLayout->setColumnMinimumWidth(2, 24);
    sizeLayout->setRowStretch(6, 1);

    // Frame rate: the wait time and the clock.
    auto* rate = new QGroupBox(tr(text::kFrameRate), page);
    auto* rateLayout = new QGridLayout(rate);
    rateLayout->setColumnMinimumWidth(0, 16);
    rateLayout->setColumnMinimumWidth(2, 24);
    waitEdit_ = new QLineEdit(rate);
    waitEdit_->setMinimumWidth(150);
    controls_.Add(1045, waitEdit_);
    auto* waitLabel = new QLabel(tr(text::kWaitTime), rate);
    waitLabel->setBuddy(waitEdit_);
    clockList_ = new QComboBox(rate);
    clockList_->setMinimumWidth(150);
    controls_.Add(1014, clockList_);
    auto* clockLabel = new QLabel(tr(text::kClock), rate);
    clockLabel->setBuddy(clockList_);
    rateLayout->addWidget(waitLabel, 0, 0, 1, 2);
    rateLayout->addWidget(waitEdit_, 1, 1);
    rateLayout->addWidget(clockLabel, 0, 2, 1, 2);
    rateLayout->addWidget(clockList_, 1, 3);
    rateLayout->setColumnStretch(4, 1);

    auto* note = new QLabel(tr(text::kClockNote), page);
    note->setAlignment(Qt::AlignRight);

    auto* pageLayout = new QGridLayout(page);
    pageLayout->addWidget(video, 0, 0);
    pageLayout->addWidget(size, 0, 1);
    pageLayout->addWidget(rate, 1, 0, 1, 2);
    pageLayout->addWidget(note, 2, 0, 1, 2);
    pageLayout->setRowStretch(3, 1);

    auto* ok = new QPushButton(tr(text::kOk), this);
    auto* cancel = new QPushButton(tr(text::kCancel), this);
    applyButton_ = new QPushButton(tr(text::kApply), this);
    ok->setDefault(true);
    controls_.Add(1, ok);
    controls_.Add(2, cancel);
    controls_.Add(1002, applyButton_);
    connect(ok, &QPushButton::clicked, this, &CameraDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CameraDialog::reject);
    connect(applyButton_, &QPushButton::clicked, this, &CameraDialog::Apply);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(ButtonRow({ok, cancel, applyButton_}));

    // A person's choice in any list, or any change of an edit's text, makes Apply available.
    for (QComboBox* list : {colorList_, sizeList_, subsampleList_, clockList_})
        connect(list, &QComboBox::activated, this, [this] { applyButton_->setEnabled(true); });
    for (QLineEdit* edit : sizeEdits_)
        connect(edit, &QLineEdit::textChanged, this, [this] { applyButton_->setEnabled(true); });
    connect(waitEdit_, &QLineEdit::textChanged, this, [this] { applyButton_->setEnabled(true); });
    connect(sizeList_, &QComboBox::activated, this, &CameraDialog::SizeChosen);
}

QString CameraDialog::SizeText(const CaptureWindow& entry) const {
    return QStringLiteral("%1 x %2").arg(entry.EH).arg(entry.EV);
}

void CameraDialog::Load() {
    host_.LoadSizeList(data_);  // with nothing stored the initial data stays: an empty list, only "Custom"
    data_.count = std::clamp(data_.count, 0, kMaxStoredSizes);

    for (const Text& t : text::kColorModes) colorList_->addItem(language_(t));
    for (const Text& t : text::kSubSamples) subsampleList_->addItem(language_(t));
    for (const Text& t : text::kClocks) clockList_->addItem(language_(t));
    SelectIfPresent(colorList_, data_.color);
    SelectIfPresent(subsampleList_, data_.subsample);
    SelectIfPresent(clockList_, data_.clock);

    for (int i = 0; i < data_.count; ++i) sizeList_->addItem(SizeText(data_.entries[i]));
    sizeList_->addItem(language_(text::kCustom));
    MarkCustomItem();

    // A stored index that names no entry opens on "Custom" (on the first entry when the list is full), and
    // a new size starts from the whole sensor: never from entries beyond the list.
    if (data_.size >= 0 && data_.size < data_.count) {
        sizeList_->setCurrentIndex(data_.size);
        ShowEntry(data_.entries[data_.size]);
    } else if (data_.count < kMaxStoredSizes) {
        sizeList_->setCurrentIndex(data_.count);
        ShowEntry(CaptureWindow{});
    } else {
        sizeList_->setCurrentIndex(0);
        ShowEntry(data_.entries[0]);
    }
    waitEdit_->setText(QString::number(static_cast<uint32_t>(data_.waitTime)));
    applyButton_->setEnabled(false);
}

void CameraDialog::ShowEntry(const CaptureWindow& entry) {
    for (int i = 0; i < 6; ++i) sizeEdits_[i]->setText(QString::number(static_cast<uint32_t>(entry.*kEditFields[i])));
}

void CameraDialog::MarkCustomItem() {
    // With 100 stored sizes there is no room for another: "Custom" cannot be chosen until then.
    auto* model = qobject_cast<QStandardItemModel*>(sizeList_->model());
    QStandardItem* custom = model ? model->item(data_.count) : nullptr;
    if (custom == nullptr) return;
    const bool room = data_.count < kMaxStoredSizes;
    custom->setEnabled(room);
    custom->setToolTip(room ? QString() : language_(text::kListFull));
}

void CameraDialog::SizeChosen(int index) {
    // "Custom" keeps the edits as they are: the values shown are the starting point of the new size.
    if (index >= 0 && index < data_.count) ShowEntry(data_.entries[index]);
}

void CameraDialog::Collect() {
    if (colorList_->currentIndex() >= 0) data_.color = colorList_->currentIndex();
    if (subsampleList_->currentIndex() >= 0) data_.subsample = subsampleList_->currentIndex();
    if (clockList_->currentIndex() >= 0) data_.clock = clockList_->currentIndex();
    data_.waitTime = static_cast<int32_t>(ParseUnsigned(waitEdit_->text()));

    const int index = sizeList_->currentIndex();
    auto fillFromEdits = [this](CaptureWindow& entry) {
        for (int i = 0; i < 6; ++i) entry.*kEditFields[i] = static_cast<int32_t>(ParseUnsigned(sizeEdits_[i]->text()));
    };
    if (index == data_.count && data_.count < kMaxStoredSizes) {
        // A new entry just before "Custom"; its Buf keeps the empty entry's value.
        CaptureWindow& entry = data_.entries[data_.count];
        fillFromEdits(entry);
        sizeList_->insertItem(index, SizeText(entry));
        ++data_.count;
        MarkCustomItem();
        sizeList_->setCurrentIndex(index);
        data_.size = index;
    } else if (index >= 0 && index < data_.count) {
        // The chosen entry takes the edits' values and its new label, in place.
        CaptureWindow& entry = data_.entries[index];
        fillFromEdits(entry);
        sizeList_->removeItem(index);
        sizeList_->insertItem(index, SizeText(entry));
        sizeList_->setCurrentIndex(index);
        data_.size = index;
    }
    applyButton_->setEnabled(false);
    host_.SaveSizeList(data_);  // a failed write is silent; the dialog goes on as if it had been written
}

void CameraDialog::Apply() {
    Collect();
}

void CameraDialog::accept() {
    Collect();
    done(kDialogOk);
}

void CameraDialog::reject() {
    done(kDialogCancel);
}

}  // namespace zelvik::dialogs
