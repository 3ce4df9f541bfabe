// The dialogs' building blocks: controls found by their numeric ids, the slider triple (trackbar, signed
// edit, up-down) and the dialog item number rules.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>

#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QSlider>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

namespace zelvik::dialogs {

// Every control with an id is registered here, so the dialogs and the tests reach it by its id. Ids are
// unique within one page or dialog (the pages reuse numbers, like 1030 and 2074).
class ControlRegistry {
public:
    // Registers w under id; w also carries the id as its object name ("id1015") and "controlId" property.
    void Add(int id, QWidget* w);
    QWidget* Find(int id) const;
    template <typename T>
    T* Get(int id) const {
        return qobject_cast<T*>(Find(id));
    }
    const std::map<int, QPointer<QWidget>>& All() const { return controls_; }

private:
    std::map<int, QPointer<QWidget>> controls_;
};

// The row of buttons under a dialog's tab control, right-aligned, in the given order.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons);

// A dialog item's text as a number. Leading blanks are skipped; the rest must be decimal digits (with one
// leading '-' for signed) and the number must fit, else the text is not a number and reads as 0.
int32_t ParseSigned(const QString& text);
uint32_t ParseUnsigned(const QString& text);

// An edit that takes only digits from the keyboard (editing and navigation keys pass; text set by the
// program, pasted or arriving from the up-down may hold anything). Up and Down step its up-down.
class DigitEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit DigitEdit(QWidget* parent = nullptr);

signals:
    void stepRequested(int steps);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// An up-down control bound to an edit: a click reads the edit's number, steps it by one within the range
// and writes the result into the edit as plain decimal text.
class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(QLineEdit* buddy, QWidget* parent = nullptr);

    void SetRange(int minimum, int maximum);
    int Minimum() const { return min_; }
    int Maximum() const { return max_; }
    // The position: the edit's number, held within the range.
    int Position() const;
    void Step(int steps);

    QToolButton* UpButton() const { return up_; }

private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 100;
};

// Trackbar, edit and up-down sharing one range. The owner connects trackbarMoved (a person moved the
// trackbar) and editChanged (the edit's text changed, by typing or by the program) to its actions.
class SliderTriple : public QObject {
    Q_OBJECT
public:
    struct Ids {
        int trackbar, edit, updown;
    };
    SliderTriple(QWidget* parent, const QString& label, Ids ids, int minimum, int maximum, int tickFrequency,
                 ControlRegistry& registry);

    // Initial state: range, trackbar position, up-down position, edit text and enabled state, all without
    // running the owner's actions.
    void Initialize(int value, bool enabled);
    // Shows value in the trackbar (nearest end when outside the range) and writes it into the edit; the
    // edit's change runs the owner's action as typed text would.
    void Display(int value);
    // Moves only the trackbar (nearest end when outside the range).
    void MoveTrackbar(int value);
    void WriteEdit(int value);
    int EditValue() const { return ParseSigned(edit_->text()); }

    QLabel* Label() const { return label_; }
    QSlider* Trackbar() const { return trackbar_; }
    QLineEdit* Edit() const { return edit_; }
    UpDown* Spin() const { return updown_; }

signals:
    void trackbarMoved(int value);
    void editChanged(int value);

private:
    QLabel* label_;
    QSlider* trackbar_;
    DigitEdit* edit_;
    UpDown* updown_;
};

}  // namespace zelvik::dialogs
