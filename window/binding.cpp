// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/binding.h"

#include "port/commerror.h"
#include "port/mscomm.h"
#include "port/portselection.h"
#include "terminal/receive.h"
#include "terminal/receiveview/receivearea.h"
#include "terminal/send.h"
#include "terminal/sendfile.h"
#include "window/combobox.h"
#include "window/commands.h"
#include "window/form1.h"
#include "window/intervaltimer.h"
#include "window/optionbutton.h"
#include "window/portcontrol.h"
#include "window/portmenu.h"
#include "window/sendline.h"
#include "window/startup.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <exception>

namespace {

// A failure no handler caught ends that event, and only that event: an exception must never unwind
// through Qt's event loop. It is logged, since the user was told nothing.
template <void (*Handler)(Form1 &)> auto guarded(Form1 &form)
{
    return [&form] {
        try {
            Handler(form);
        } catch (const CommError &e) {
            qWarning("Event ended by serial port error %d: %s", e.code(), qPrintable(e.message()));
        } catch (const std::exception &e) {
            qWarning("Event ended by an exception: %s", e.what());
        }
    };
}

} // namespace

void bindEvents(Form1 &f)
{
    QObject::connect(f.Combo1, &ComboBox::Click, &f, guarded<Combo1_Click>(f));
    QObject::connect(f.Command1, &QPushButton::clicked, &f, guarded<Command1_Click>(f));
    QObject::connect(f.Command3, &QPushButton::clicked, &f, guarded<Command3_Click>(f));
    QObject::connect(f.Command4, &QPushButton::clicked, &f, guarded<Command4_Click>(f));
    QObject::connect(f.Command5, &QPushButton::clicked, &f, guarded<Command5_Click>(f));
    QObject::connect(f.Command6, &QPushButton::clicked, &f, guarded<Command6_Click>(f));
    QObject::connect(f.Command7, &QPushButton::clicked, &f, guarded<Command7_Click>(f));
    QObject::connect(f.Command8, &QPushButton::clicked, &f, guarded<Command8_Click>(f));
    QObject::connect(f.Option1, &OptionButton::Click, &f, guarded<Option1_Click>(f));
    QObject::connect(f.Option2, &OptionButton::Click, &f, guarded<Option2_Click>(f));
    QObject::connect(f.Text2, &SendLine::PasteRefused, &f, guarded<Text2_PasteRefused>(f));
    QObject::connect(f.Text2, &SendLine::SendFile, &f, guarded<Text2_SendFile>(f));
    QObject::connect(f.Text3, &QLineEdit::textChanged, &f, guarded<Text3_Change>(f));
    QObject::connect(f.Timer1, &IntervalTimer::Timer, &f, guarded<Timer1_Timer>(f));
    QObject::connect(f.Timer2, &IntervalTimer::Timer, &f, guarded<Timer2_Timer>(f));
    QObject::connect(f.MSComm1, &MSComm::OnComm, &f, guarded<MSComm1_OnComm>(f));
    QObject::connect(f.MSComm1, &MSComm::portLost, &f, guarded<MSComm1_PortLost>(f));
    for (QAction *mode : { f.PortMenu1->FlowNone, f.PortMenu1->FlowRtsCts, f.PortMenu1->FlowXonXoff })
        QObject::connect(mode, &QAction::triggered, &f, guarded<FlowControl_Click>(f));
    QObject::connect(f.PortMenu1->LineDtr, &QAction::triggered, &f, guarded<LineDtr_Click>(f));
    QObject::connect(f.PortMenu1->LineRts, &QAction::triggered, &f, guarded<LineRts_Click>(f));
    QObject::connect(f.PortMenu1->AutoReopen, &QAction::triggered, &f, guarded<AutoReopen_Click>(f));
    QObject::connect(f.MSComm1, &MSComm::portStateChanged, &f, guarded<MSComm1_PortStateChanged>(f));
    QObject::connect(f.MSComm1, &MSComm::portReturned, &f, guarded<MSComm1_PortReturned>(f));
    QObject::connect(f.MSComm1, &MSComm::inputTaken, f.Text1, &ReceiveArea::recordReceived);
}

std::unique_ptr<Form1> createForm1()
{
    auto form = std::make_unique<Form1>();
    bindEvents(*form);
    guarded<Form_Load> (*form)();
    return form;
}
