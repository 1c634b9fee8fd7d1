// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/messagebox.h"

#include <QFileDialog>

namespace {
int openBoxes = 0;
BoxAnswers *answers = nullptr;
} // namespace

void MsgBox(
    QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon, const QString &informative)
{
    if (answers) {
        answers->answerBox({ title, text, informative, icon }, true);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("MsgBox"));
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    ++openBoxes;
    box.exec();
    --openBoxes;
}

void MsgBoxLater(
    QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon, const QString &informative)
{
    if (answers) {
        answers->answerBox({ title, text, informative, icon }, false);
        return;
    }
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, owner);
    box->setObjectName(QStringLiteral("MsgBox"));
    if (!informative.isEmpty())
        box->setInformativeText(informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    ++openBoxes;
    QObject::connect(box, &QObject::destroyed, [] { --openBoxes; });
    box->show();
}

bool msgBoxOpen()
{
    return openBoxes > 0;
}

QString askSaveFileName(QWidget *owner, const QString &caption, const QString &suggested, const QString &filter)
{
    if (answers)
        return answers->answerFileDialog(suggested);
    return QFileDialog::getSaveFileName(owner, caption, suggested, filter);
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
    for (QEventLoop *loop : std::as_const(m_waiting))
        loop->quit();
    m_waiting.clear();
    openBoxes -= m_heldLater;
    m_heldLater = 0;
}

void BoxAnswers::answerBox(const Box &box, bool callerWaits)
{
    m_boxes << box;
    ++openBoxes;
    if (m_hold && callerWaits) {
        QEventLoop loop;
        m_waiting << &loop;
        loop.exec();
    } else if (m_hold) {
        ++m_heldLater;
        return;
    } else if (m_whileOpen) {
        m_whileOpen();
    }
    --openBoxes;
}

QString BoxAnswers::answerFileDialog(const QString &suggested)
{
    m_dialogs << suggested;
    return m_fileNames.isEmpty() ? QString() : m_fileNames.takeFirst();
}
