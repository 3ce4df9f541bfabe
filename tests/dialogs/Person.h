// Driving a dialog's controls the way a person does: typing, dragging, clicking, choosing.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>

namespace zelvik::test {

// Replaces the edit's text by typing: select all, then the keys.
inline void Type(QLineEdit* edit, const QString& keys) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (keys.isEmpty()) QTest::keyClick(edit, Qt::Key_Delete);
    else QTest::keyClicks(edit, keys);
}

// Drags the trackbar's handle to value.
inline void Drag(QSlider* trackbar, int value) {
    trackbar->setSliderDown(true);
    trackbar->setSliderPosition(value);
    trackbar->setSliderDown(false);
}

// Clicks a button where a person would: the box of a check box or radio, the middle of a push button.
inline void Click(QAbstractButton* button) {
    QPoint where = button->rect().center();
    QStyleOptionButton option;
    option.initFrom(button);
    if (qobject_cast<QCheckBox*>(button))
        where = button->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, button).center();
    else if (qobject_cast<QRadioButton*>(button))
        where = button->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, button).center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, where);
}

// Chooses the item at index with the keyboard (Home, then Down), as a person on a closed list does;
// items that cannot be chosen are skipped as they are for a person.
inline void Choose(QComboBox* list, int index) {
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(list, Qt::Key_Down);
}

}  // namespace zelvik::test
