// The stream format and camera size dialog: colour mode, stored window sizes or a new custom size,
// subsampling, frame wait time and clock, kept in the stored video format.
#pragma once

#include <QDialog>

#include "dialogs/DialogHost.h"
#include "dialogs/widgets/Controls.h"
#include "dialogs/widgets/Texts.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace zelvik::dialogs {

class CameraDialog : public QDialog {
    Q_OBJECT
public:
    // Builds the dialog and fills it from the stored video format.
    CameraDialog(DialogHost& host, Language language, QWidget* parent = nullptr);

    const ControlRegistry& Controls() const { return controls_; }

    // Results: kDialogOk after OK, kDialogCancel after Cancel or closing.
    void accept() override;
    void reject() override;

private:
    void Build();
    void Load();
    void ShowEntry(const CaptureWindow& entry);
    void SizeChosen(int index);
    void Apply();
    void Collect();
    void MarkCustomItem();
    QString SizeText(const CaptureWindow& entry) const;

    DialogHost& host_;
    Language language_;
    ControlRegistry controls_;
    SizeListData data_;
    QComboBox* colorList_ = nullptr;
    QComboBox* sizeList_ = nullptr;
    QComboBox* subsampleList_ = nullptr;
    QComboBox* clockList_ = nullptr;
    QLineEdit* sizeEdits_[6] = {};  // TH, TV, EH, EV, EHS, EVS
    QLineEdit* waitEdit_ = nullptr;
    QPushButton* applyButton_ = nullptr;
};

}  // namespace zelvik::dialogs
