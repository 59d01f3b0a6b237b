#pragma once
// CMsTimeCtrl: the time field. It shows hours, minutes, seconds and
// hundredths ("01:02:03.45", the decimal point of the C locale), takes a time
// in 100 ns units, and edits each field with the keys, the up-down buttons
// and the wheel. The fraction field steps by the frame duration and takes
// two typed digits within one second. The value is a date-time on the base
// date 30 December 1899, as the classic date-time picker keeps it.
#include <QAbstractSpinBox>
#include <QBasicTimer>
#include <QDateTime>
#include <cstdint>

class CMsTimeCtrl : public QAbstractSpinBox {
    Q_OBJECT
public:
    enum Field { FieldHour = 0, FieldMinute, FieldSecond, FieldFraction };

    explicit CMsTimeCtrl(QWidget* parent = nullptr);
    ~CMsTimeCtrl() override;

    // The time in 100 ns units; -1 while the field shows no time.
    bool GetTime(int64_t& time) const;
    int64_t GetTime() const;
    // Sets the time (rounded to hundredths of a second, see the .cpp); -1
    // empties the field. An unchanged value is not set again.
    void SetTime(int64_t time);
    // The frame duration in ms becomes the fraction's step when 1 to 999.
    void SetFrameDuration(int milliseconds);
    int GetStep() const { return m_nStep; }

    // The value as the picker keeps it (null while empty).
    QDateTime GetDateTime() const;
    // Hours, minutes, seconds and milliseconds (all 0 while empty).
    int Hour() const { return m_hour; }
    int Minute() const { return m_minute; }
    int Second() const { return m_second; }
    int Millisecond() const { return m_ms; }
    bool IsEmpty() const { return m_bEmpty; }

    // The field the caret is in, and moving it.
    Field CurrentField() const { return m_field; }
    void SetCurrentField(Field field);

    // Parses "HH:MM:SS.hh" (or with ','); a text that is not a time is
    // refused and the value stays. True when taken.
    bool SetTimeText(const QString& text);
    // The displayed text (a single space while empty).
    QString Text() const;
    // The fraction text: milliseconds as "%03d" cut to two digits.
    static QString FractionText(int milliseconds);
    // How many digits of the fraction were typed in the running second.
    int TypedDigits() const { return m_nTyped; }

    // The typing second ended (the timer and the focus loss call it): the
    // next digit starts the field anew.
    void EndTyping();

    void stepBy(int steps) override;
    // Room for "00:00:00.00" and the up-down buttons.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user changed the time (DTN_DATETIMECHANGE).
    void timeChanged();

protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void ShowValue();
    void FieldFromCursor();
    void FieldFromCursorIfNeeded();
    void AcceptEditedText();
    void SelectField();
    void TypeDigit(int digit);
    void StepField(int delta);
    void UserChanged();

    int m_hour = 0, m_minute = 0, m_second = 0, m_ms = 0;
    bool m_bEmpty = false;
    int m_nStep = 10;
    int m_nTyped = 0;
    int m_nTypedField = -1;
    Field m_field = FieldHour;
    QBasicTimer m_typingTimer;
};
