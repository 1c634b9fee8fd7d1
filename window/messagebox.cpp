// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/messagebox.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace {

int openBoxes = 0;
// The widest a box's text may grow before it wraps: wide enough for any line the program writes, narrow
// enough to stay on a small screen.
constexpr int kWidestLine = 640;

BoxAnswers *answers = nullptr;

QMessageBox *makeBox(QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon,
    const QString &informative, QMessageBox *onStack = nullptr)
{
    QMessageBox *box = onStack ? onStack : new QMessageBox(owner);
    box->setIcon(icon);
    box->setWindowTitle(title);
    box->setText(text);
    box->setStandardButtons(QMessageBox::Ok);
    box->setObjectName(QStringLiteral("MsgBox"));
    if (!informative.isEmpty())
        box->setInformativeText(informative);
    fitToText(*box);
    return box;
}

} // namespace

void fitToText(QMessageBox &box)
{
    int bound = kWidestLine;
    if (const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen())
        bound = std::min(bound, screen->availableGeometry().width() * 3 / 4);
    for (const char *name : { "qt_msgbox_label", "qt_msgbox_informativelabel" }) {
        auto *label = box.findChild<QLabel *>(QLatin1String(name));
        if (!label || label->text().isEmpty())
            continue;
        const QFontMetrics metrics(label->font(), label);
        int widest = 0;
        for (const QString &line : label->text().split(u'\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // A little room for the label's own margins and for rounding in the layout.
        label->setMinimumWidth(std::min(widest + metrics.averageCharWidth(), bound));
    }
}

void MsgBox(
    QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon, const QString &informative)
{
    QMessageBox box(owner);
    makeBox(owner, text, title, icon, informative, &box);
    ++openBoxes;
    if (answers)
        answers->shown(&box);
    box.exec();
    --openBoxes;
}

void MsgBoxLater(
    QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon, const QString &informative)
{
    QMessageBox *box = makeBox(owner, text, title, icon, informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    ++openBoxes;
    QObject::connect(box, &QObject::destroyed, [] { --openBoxes; });
    box->show();
    if (answers)
        answers->shown(box);
}

bool msgBoxOpen()
{
    return openBoxes > 0;
}

BoxAnswers::BoxAnswers()
    : m_previous(answers)
{
    answers = this;
}

BoxAnswers::~BoxAnswers()
{
    release();
    answers = m_previous;
}

BoxAnswers *BoxAnswers::current()
{
    return answers;
}

void BoxAnswers::setHold(bool hold)
{
    m_hold = hold;
    if (!hold)
        release();
}

void BoxAnswers::release()
{
    const QList<QPointer<QMessageBox>> held = std::exchange(m_held, {});
    for (const QPointer<QMessageBox> &box : held)
        if (box)
            box->button(QMessageBox::Ok)->click();
}

void BoxAnswers::shown(QMessageBox *box)
{
    m_boxes << Box { box->windowTitle(), box->text(), box->informativeText(), box->icon() };
    if (m_whenShown)
        m_whenShown();
    if (m_hold) {
        m_held << box;
        return;
    }
    // From the box's own event loop, as a user's click would come.
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
}

QString BoxAnswers::answerFileDialog(const QString &suggested)
{
    m_dialogs << suggested;
    return m_fileNames.isEmpty() ? QString() : m_fileNames.takeFirst();
}
