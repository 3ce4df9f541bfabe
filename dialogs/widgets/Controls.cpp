// Control registry, number rules, digit-only edit, up-down and slider triple.
#include "dialogs/widgets/Controls.h"

#include <algorithm>
#include <limits>

#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace zelvik::dialogs {

void ControlRegistry::Add(int id, QWidget* w) {
    w->setObjectName(QStringLiteral("id%1").arg(id));
    w->setProperty("controlId", id);
    controls_[id] = w;
}

QWidget* ControlRegistry::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.data();
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton* b : buttons) {
        b->setMinimumWidth(90);
        row->addWidget(b);
    }
    return row;
}

namespace {

// Digits after the skipped blanks and an optional sign; false when anything else follows or nothing does.
bool SplitNumber(const QString& text, bool allowSign, bool& negative, qsizetype& first) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    negative = false;
    if (allowSign && i < text.size() && text[i] == u'-') {
        negative = true;
        ++i;
    }
    first = i;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < u'0' || text[i] > u'9') return false;
    return true;
}

// The digits from `first` as a magnitude, or false when it exceeds `limit`.
bool Magnitude(const QString& text, qsizetype first, uint64_t limit, uint64_t& value) {
    value = 0;
    for (qsizetype i = first; i < text.size(); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i].unicode() - u'0');
        if (value > limit) return false;
    }
    return true;
}

}  // namespace

int32_t ParseSigned(const QString& text) {
    bool negative;
    qsizetype first;
    if (!SplitNumber(text, true, negative, first)) return 0;
    const uint64_t limit = negative ? uint64_t{1} << 31 : std::numeric_limits<int32_t>::max();
    uint64_t value;
    if (!Magnitude(text, first, limit, value)) return 0;
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
}

uint32_t ParseUnsigned(const QString& text) {
    bool negative;
    qsizetype first;
    if (!SplitNumber(text, false, negative, first)) return 0;
    uint64_t value;
    if (!Magnitude(text, first, std::numeric_limits<uint32_t>::max(), value)) return 0;
    return static_cast<uint32_t>(value);
}

DigitEdit::DigitEdit(QWidget* parent) : QLineEdit(parent) {}

void DigitEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        emit stepRequested(event->key() == Qt::Key_Up ? 1 : -1);
        return;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && typed[0].isPrint();
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    if (printable && !shortcut) {
        for (QChar c : typed)
            if (c < u'0' || c > u'9') {
                event->accept();  // swallowed, as a digits-only edit does
                return;
            }
    }
    QLineEdit::keyPressEvent(event);
}

UpDown::UpDown(QLineEdit* buddy, QWidget* parent) : QWidget(parent), buddy_(buddy) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        b->setFixedWidth(16);
        layout->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    setFixedHeight(buddy_->sizeHint().height());
}

void UpDown::SetRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = maximum;
}

int UpDown::Position() const {
    return std::clamp(ParseSigned(buddy_->text()), min_, max_);
}

void UpDown::Step(int steps) {
    if (!buddy_->isEnabled()) return;
    const int64_t next = static_cast<int64_t>(Position()) + steps;
    buddy_->setText(QString::number(std::clamp<int64_t>(next, min_, max_)));
}

SliderTriple::SliderTriple(QWidget* parent, const QString& label, Ids ids, int minimum, int maximum,
                           int tickFrequency, ControlRegistry& registry)
    : QObject(parent) {
    label_ = new QLabel(label, parent);
    trackbar_ = new QSlider(Qt::Horizontal, parent);
    trackbar_->setRange(minimum, maximum);
    trackbar_->setTickInterval(tickFrequency);
    trackbar_->setTickPosition(QSlider::NoTicks);
    trackbar_->setPageStep(std::max(1, (maximum - minimum) / 5));
    edit_ = new DigitEdit(parent);
    updown_ = new UpDown(edit_, parent);
    updown_->SetRange(minimum, maximum);
    label_->setBuddy(edit_);
    registry.Add(ids.trackbar, trackbar_);
    registry.Add(ids.edit, edit_);
    registry.Add(ids.updown, updown_);

    // valueChanged with the signals blocked for every move the program makes: what arrives here is a
    // person dragging, clicking the groove or pressing keys on the trackbar.
    connect(trackbar_, &QSlider::valueChanged, this, &SliderTriple::trackbarMoved);
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { emit editChanged(ParseSigned(text)); });
    connect(edit_, &DigitEdit::stepRequested, updown_, &UpDown::Step);
}

void SliderTriple::Initialize(int value, bool enabled) {
    const QSignalBlocker blockTrackbar(trackbar_);
    const QSignalBlocker blockEdit(edit_);
    trackbar_->setValue(value);
    edit_->setText(QString::number(value));
    for (QWidget* w : {static_cast<QWidget*>(label_), static_cast<QWidget*>(trackbar_),
                       static_cast<QWidget*>(edit_), static_cast<QWidget*>(updown_)})
        w->setEnabled(enabled);
}

void SliderTriple::Display(int value) {
    MoveTrackbar(value);
    WriteEdit(value);
}

void SliderTriple::MoveTrackbar(int value) {
    const QSignalBlocker block(trackbar_);
    trackbar_->setValue(value);
}

void SliderTriple::WriteEdit(int value) {
    edit_->setText(QString::number(value));
}

}  // namespace zelvik::dialogs
