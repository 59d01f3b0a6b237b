#include "ui/MsTimeCtrl.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTimerEvent>
#include <QWheelEvent>
#include <clocale>

namespace {

// The decimal point of the C locale (the numeric category stays "C").
QString DecimalPoint() {
    const char* point = std::localeconv()->decimal_point;
    return QString::fromLocal8Bit(point && *point ? point : ".");
}

int Wrap(int value, int modulus) {
    return ((value % modulus) + modulus) % modulus;
}

// The wheel turns the same way the up-down buttons do.
constexpr int kWheelDirection = 1;

}  // namespace

CMsTimeCtrl::CMsTimeCtrl(QWidget* parent) : QAbstractSpinBox(parent) {
    // The wheel over an unfocused field moves the time without taking the focus.
    setFocusPolicy(Qt::StrongFocus);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ShowValue();
}

CMsTimeCtrl::~CMsTimeCtrl() = default;

QString CMsTimeCtrl::FractionText(int milliseconds) {
    // "%03d" cut to two digits: hundredths, truncated.
    return QString::asprintf("%03d", Wrap(milliseconds, 1000)).left(2);
}

QString CMsTimeCtrl::Text() const {
    if (m_bEmpty)
        return QStringLiteral(" ");
    return QString::asprintf("%02d:%02d:%02d", m_hour, m_minute, m_second) + DecimalPoint() +
           FractionText(m_ms);
}

QSize CMsTimeCtrl::sizeHint() const {
    ensurePolished();
    const QFontMetrics metrics(lineEdit()->font());
    // The full text (digits share one width in common fonts), the edit
    // field's own margins and the caret.
    const QString sample = QStringLiteral("00:00:00") + DecimalPoint() + QStringLiteral("00");
    const QMargins margins = lineEdit()->textMargins();
    const int width = metrics.horizontalAdvance(sample) + margins.left() + margins.right() + 8;
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option,
                                     QSize(width, lineEdit()->sizeHint().height()), this);
}

bool CMsTimeCtrl::GetTime(int64_t& time) const {
    time = GetTime();
    return true;
}

int64_t CMsTimeCtrl::GetTime() const {
    if (m_bEmpty)
        return -1;
    return ((int64_t(m_hour) * 3600 + m_minute * 60 + m_second) * 1000 + m_ms) * 10000;
}

QDateTime CMsTimeCtrl::GetDateTime() const {
    if (m_bEmpty)
        return QDateTime();
    return QDateTime(QDate(1899, 12, 30), QTime(m_hour, m_minute, m_second, m_ms));
}

void CMsTimeCtrl::SetTime(int64_t time) {
    if (time < 0) {
        if (!m_bEmpty) {
            m_bEmpty = true;
            ShowValue();
        }
        return;
    }
    const int64_t ms = (time + 5000) / 10000;
    int fraction = static_cast<int>(ms % 1000);
    // Rounded to hundredths; 1000 carries into the seconds.
    fraction = (fraction + 5) - ((fraction + 5) % 10);
    int carry = 0;
    if (fraction >= 1000) {
        fraction = 0;
        carry = 1;
    }
    const int64_t s = ms / 1000 + carry;
    const int second = static_cast<int>(s % 60);
    const int minute = static_cast<int>((s / 60) % 60);
    const int hour = static_cast<int>((s / 3600) % 24);
    if (!m_bEmpty && hour == m_hour && minute == m_minute && second == m_second && fraction == m_ms)
        return;
    m_bEmpty = false;
    m_hour = hour;
    m_minute = minute;
    m_second = second;
    m_ms = fraction;
    ShowValue();
}

void CMsTimeCtrl::SetFrameDuration(int milliseconds) {
    if (milliseconds >= 1 && milliseconds <= 999)
        m_nStep = milliseconds;
}

bool CMsTimeCtrl::SetTimeText(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,2}):(\\d{1,2}):(\\d{1,2})(?:[.,](\\d{1,3}))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    const int second = match.captured(3).toInt();
    QString fraction = match.captured(4);
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    // "45" are hundredths: 450 ms.
    const int ms = fraction.isEmpty() ? 0 : (fraction + QStringLiteral("00")).left(3).toInt();
    m_bEmpty = false;
    m_hour = hour;
    m_minute = minute;
    m_second = second;
    m_ms = ms;
    ShowValue();
    return true;
}

void CMsTimeCtrl::ShowValue() {
    const QString text = Text();
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
    if (hasFocus())
        SelectField();
    update();
}

void CMsTimeCtrl::SetCurrentField(Field field) {
    m_field = field;
    if (m_nTypedField != field)
        m_nTyped = 0;
    SelectField();
}

void CMsTimeCtrl::SelectField() {
    if (m_bEmpty)
        return;
    // HH:MM:SS.hh; each field is two characters wide.
    const int start =
        static_cast<int>(m_field) * 3 + (m_field == FieldFraction ? DecimalPoint().size() - 1 : 0);
    lineEdit()->setSelection(start, 2);
}

void CMsTimeCtrl::FieldFromCursor() {
    const int pos = lineEdit()->cursorPosition();
    m_field = static_cast<Field>(std::min(3, pos / 3));
}

void CMsTimeCtrl::UserChanged() {
    ShowValue();
    Q_EMIT timeChanged();
}

void CMsTimeCtrl::StepField(int delta) {
    if (m_bEmpty)
        return;
    switch (m_field) {
        case FieldHour:
            m_hour = Wrap(m_hour + delta, 24);
            break;
        case FieldMinute:
            m_minute = Wrap(m_minute + delta, 60);
            break;
        case FieldSecond:
            m_second = Wrap(m_second + delta, 60);
            break;
        case FieldFraction:
            // The step wraps within the second.
            m_ms = Wrap(m_ms + delta * m_nStep, 1000);
            break;
    }
    UserChanged();
}

void CMsTimeCtrl::TypeDigit(int digit) {
    if (m_bEmpty) {
        m_bEmpty = false;
        m_hour = m_minute = m_second = m_ms = 0;
    }
    if (m_nTypedField != m_field)
        m_nTyped = 0;
    m_nTypedField = m_field;
    if (m_field == FieldFraction) {
        if (m_nTyped == 0) {
            m_ms = digit * 10;
            m_nTyped = 1;
            m_typingTimer.start(1000, this);
        } else {
            m_ms = digit * 10 + (m_ms % 100) * 10;
            m_nTyped = 0;
            m_typingTimer.stop();
        }
        UserChanged();
        return;
    }
    // Hours, minutes and seconds take one or two digits, then the next field.
    int* value = m_field == FieldHour ? &m_hour : m_field == FieldMinute ? &m_minute : &m_second;
    const int limit = m_field == FieldHour ? 24 : 60;
    if (m_nTyped == 0) {
        *value = digit;
        m_nTyped = 1;
        m_typingTimer.start(1000, this);
        UserChanged();
        return;
    }
    const int combined = *value * 10 + digit;
    *value = combined < limit ? combined : digit;
    m_nTyped = 0;
    m_typingTimer.stop();
    m_field = static_cast<Field>(m_field + 1);
    UserChanged();
}

void CMsTimeCtrl::EndTyping() {
    m_nTyped = 0;
    m_typingTimer.stop();
}

void CMsTimeCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_typingTimer.timerId()) {
        EndTyping();
        return;
    }
    QAbstractSpinBox::timerEvent(event);
}

void CMsTimeCtrl::stepBy(int steps) {
    if (steps == 0)
        return;
    if (hasFocus()) {
        // With the focus a turn is an Up or Down key on the current field.
        StepField(steps * kWheelDirection > 0 ? 1 : -1);
        return;
    }
    if (m_bEmpty)
        return;
    // Without the focus it moves the whole time by the step.
    const int64_t dayMs = 24LL * 3600 * 1000;
    int64_t ms = GetTime() / 10000 + int64_t(steps) * kWheelDirection * m_nStep;
    ms = ((ms % dayMs) + dayMs) % dayMs;
    m_ms = static_cast<int>(ms % 1000);
    m_second = static_cast<int>(ms / 1000 % 60);
    m_minute = static_cast<int>(ms / 60000 % 60);
    m_hour = static_cast<int>(ms / 3600000);
    UserChanged();
}

QAbstractSpinBox::StepEnabled CMsTimeCtrl::stepEnabled() const {
    if (m_bEmpty || isReadOnly())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}

QValidator::State CMsTimeCtrl::validate(QString& input, int&) const {
    if (input == Text())
        return QValidator::Acceptable;
    static const QRegularExpression full(
        QStringLiteral("^\\d{1,2}:\\d{1,2}:\\d{1,2}(?:[.,]\\d{1,3})?$"));
    if (full.match(input).hasMatch())
        return QValidator::Acceptable;
    static const QRegularExpression partial(QStringLiteral("^[\\d:.,]*$"));
    return partial.match(input).hasMatch() ? QValidator::Intermediate : QValidator::Invalid;
}

void CMsTimeCtrl::fixup(QString& input) const {
    input = Text();
}

void CMsTimeCtrl::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        event->ignore();
        return;
    }
    FieldFromCursorIfNeeded();
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        TypeDigit(key - Qt::Key_0);
        return;
    }
    switch (key) {
        case Qt::Key_Up:
            StepField(1);
            return;
        case Qt::Key_Down:
            StepField(-1);
            return;
        case Qt::Key_Plus:
            if (keypad) {
                StepField(1);
                return;
            }
            break;
        case Qt::Key_Minus:
            if (keypad) {
                StepField(-1);
                return;
            }
            break;
        case Qt::Key_Left:
            SetCurrentField(static_cast<Field>(std::max(0, m_field - 1)));
            return;
        case Qt::Key_Right:
            SetCurrentField(static_cast<Field>(std::min(3, m_field + 1)));
            return;
        case Qt::Key_Home:
            SetCurrentField(FieldHour);
            return;
        case Qt::Key_End:
            SetCurrentField(FieldFraction);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            AcceptEditedText();
            event->ignore();
            return;
        default:
            break;
    }
    // Nothing else edits the text; the dialog may want the key.
    event->ignore();
}

void CMsTimeCtrl::FieldFromCursorIfNeeded() {
    // The caret moved by the mouse chooses the field.
    if (lineEdit()->hasSelectedText() || m_bEmpty)
        return;
    FieldFromCursor();
}

void CMsTimeCtrl::AcceptEditedText() {
    const QString text = lineEdit()->text();
    if (text == Text())
        return;
    // Text that is not a time is dropped; the last valid value stays.
    if (SetTimeText(text))
        Q_EMIT timeChanged();
    else
        ShowValue();
}

void CMsTimeCtrl::mousePressEvent(QMouseEvent* event) {
    QAbstractSpinBox::mousePressEvent(event);
    FieldFromCursor();
    SelectField();
}

void CMsTimeCtrl::focusInEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusInEvent(event);
    SelectField();
}

void CMsTimeCtrl::focusOutEvent(QFocusEvent* event) {
    EndTyping();
    AcceptEditedText();
    QAbstractSpinBox::focusOutEvent(event);
}

void CMsTimeCtrl::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    stepBy(delta > 0 ? 1 : -1);
    event->accept();
}
