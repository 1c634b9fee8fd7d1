// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window: every control under its own name, placed from the layout table, in its initial
// state, with the serial component it owns. It knows no handler; the binding connects the events.

#include "port/settingsstate.h"

#include <QWidget>
#include <string_view>

class ComboBox;
class IntervalTimer;
class MSComm;
class OptionButton;
class PortMenu;
class ReceiveArea;
class SendLine;
class Shape;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // The live colours of the status lamp.
    static const QColor kLampOpen;
    static const QColor kLampClosed;

    // The shown port state: the open/close button's caption and the lamp.
    void showPortOpen();
    void showPortClosed();

    QGroupBox *Frame1;
    QGroupBox *Frame2;
    QGroupBox *Frame3;
    QGroupBox *Frame4;

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label5;
    QLabel *Label6;
    QLabel *Label7;
    QLabel *Label8;
    QLabel *Label9;
    QLabel *Label10;
    QLabel *Label11;

    QPushButton *Command1;
    QPushButton *Command3;
    QPushButton *Command4;
    QPushButton *Command5;
    QPushButton *Command6;
    QPushButton *Command7;
    QPushButton *Command8;

    ComboBox *Combo1;
    ComboBox *Combo2;
    ComboBox *Combo3;
    ComboBox *Combo4;
    ComboBox *Combo5;

    ReceiveArea *Text1;
    SendLine *Text2;
    QLineEdit *Text3;

    OptionButton *Option1;
    OptionButton *Option2;
    OptionButton *Option3;
    OptionButton *Option5;

    Shape *Shape1;

    IntervalTimer *Timer1;
    IntervalTimer *Timer2;

    MSComm *MSComm1;

    // The context menu of Command5 and Shape1: flow control, control lines, reopening.
    PortMenu *PortMenu1 = nullptr;

    // Kept by the settings timer (Timer1_Timer).
    SettingsState settingsState;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *control(std::string_view name) const;
    QWidget *containerOf(std::string_view name);
    // Makes a control inside the container the layout table gives it, named after its member.
    template <typename T, typename... Args> T *create(const char *name, const Args &...args);
    void placeControls();
    void setTabOrder();
    void setAccessibility();
    QString portsToolTip() const;
};
