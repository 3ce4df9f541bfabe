// The analog and image property sheets: a tab control of pages with OK, Cancel and "Default(&D)".
#pragma once

#include <QDialog>

#include "dialogs/DialogHost.h"
#include "dialogs/widgets/Controls.h"
#include "dialogs/widgets/SettingsPages.h"
#include "dialogs/widgets/Texts.h"

class QTabWidget;

namespace zelvik::dialogs {

class PropertySheet : public QDialog {
    Q_OBJECT
public:
    const ControlRegistry& Controls() const { return controls_; }

    // Results: kDialogOk after OK (the pages collected), kDialogCancel after Cancel or closing. The
    // settings the pages changed live stay as they are; undoing them is the caller's part.
    void accept() override;
    void reject() override;

protected:
    PropertySheet(DialogHost& host, Language language, QWidget* parent);
    void AddPage(SettingsPage* page, const QString& title);
    virtual void CollectPages() = 0;
    virtual void RestoreDefaults() = 0;

    DialogHost& host_;
    QTabWidget* tabs_;
    ControlRegistry controls_;
};

class AnalogSheet : public PropertySheet {
    Q_OBJECT
public:
    AnalogSheet(DialogHost& host, Language language, QWidget* parent = nullptr);
    AnalogPage* Page() const { return page_; }

private:
    void CollectPages() override;
    void RestoreDefaults() override;
    AnalogPage* page_;
};

class ImageSheet : public PropertySheet {
    Q_OBJECT
public:
    ImageSheet(DialogHost& host, Language language, QWidget* parent = nullptr);
    ImagePage* Image() const { return image_; }
    GrayPage* Gray() const { return gray_; }  // null for colour stream formats
    // Shows the current slots on both pages (after the capture thread changed them).
    void ShowCurrentSettings();

private:
    void CollectPages() override;
    void RestoreDefaults() override;
    ImagePage* image_;
    GrayPage* gray_ = nullptr;
};

}  // namespace zelvik::dialogs
