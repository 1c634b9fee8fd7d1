#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Mutation check of the test suite: puts one realistic fault at a time into port/, terminal/ and window/,
rebuilds incrementally, runs the whole suite with ctest and counts the faults the suite caught.

Usage: tools/mutate.py [--build DIR] [--sample N] [--seed S] [--only ID,...] [--list]

Every mutant is one exact piece of source text and what replaces it; the file is written back byte for byte
afterwards, whatever happens (Ctrl+C included). A mutant whose text is no longer found exactly once is
reported as stale rather than guessed at. Mutants marked equivalent change nothing a user or a device could
see; they are listed with the reason and left out of the score. Not part of CI: a run of the whole list takes
about half a minute per mutant.
"""

import argparse
import os
import random
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# (id, file, original text, replacement, what the fault is)
MUTANTS = [
    # port/linesettings.cpp: the settings string
    ("digits", "port/linesettings.cpp", "c >= u'0' && c <= u'9'", "c >= u'0' && c < u'9'", "9 is not a digit"),
    ("order", "port/linesettings.cpp", '"%1,%2,%3,%4"', '"%1,%2,%4,%3"', "data and stop bits swapped in the string"),
    ("baud0", "port/linesettings.cpp", "*baudValue > 0 &&", "*baudValue >= 0 &&", "baud 0 accepted"),
    ("baudmax", "port/linesettings.cpp", "*baudValue <= std::numeric_limits", "*baudValue < std::numeric_limits",
     "the largest baud refused"),
    ("paritycase", "port/linesettings.cpp", "parity[0].toUpper().unicode()", "parity[0].unicode()",
     "lower-case parity letter refused"),
    ("data4", "port/linesettings.cpp", "*dataValue >= 5", "*dataValue >= 4", "4 data bits accepted"),
    ("data8", "port/linesettings.cpp", "*dataValue <= 8", "*dataValue < 8", "8 data bits refused"),
    ("stop3", "port/linesettings.cpp", "(*stopValue == 1 || *stopValue == 2)", "(*stopValue >= 1)",
     "3 stop bits accepted"),
    ("fields", "port/linesettings.cpp", "fields.size() != 4", "fields.size() < 4", "an extra field ignored"),
    # port/mscomm.cpp: the serial component
    ("odd", "port/mscomm.cpp", "case 'O':\n        return QSerialPort::OddParity;",
     "case 'O':\n        return QSerialPort::EvenParity;", "odd parity set as even"),
    ("stopbits", "port/mscomm.cpp", "s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop",
     "QSerialPort::OneStop", "two stop bits never reach the device"),
    ("flow", "port/mscommlines.cpp", "default:\n        return QSerialPort::NoFlowControl;",
     "default:\n        return QSerialPort::HardwareControl;", "RTS/CTS left on after open"),
    ("rollback", "port/mscomm.cpp", "    if (!ok)\n        writeLineSettings(m_port, old);\n", "",
     "a refused field leaves the fields before it changed"),
    ("whileopen", "port/mscomm.cpp", "*parsed != m_settings && m_port.isOpen()",
     "*parsed != m_settings && !m_port.isOpen()", "settings changed while open never reach the device"),
    ("marks", "port/mscomm.cpp", "markParityErrors((ok ? s : old).parity != 'N');", "markParityErrors(false);",
     "parity errors no longer marked after a change while open"),
    ("openrefused", "port/mscomm.cpp", "if (!writeLineSettings(m_port, m_settings)) {", "if (false) {",
     "settings refused at open go unreported"),
    ("notfound", "port/mscomm.cpp", "failOpen(CommError::PortInvalid, systemError);",
     "failOpen(CommError::DeviceFailure, systemError);", "a missing device reported as a device failure"),
    ("leadbyte", "port/mscomminput.cpp", "    m_pending.prepend(taken);\n", "", "a trailing lead byte is lost"),
    ("resource", "port/mscomm.cpp", "error != QSerialPort::ReadError && error != QSerialPort::ResourceError",
     "error != QSerialPort::ReadError", "a device lost with a resource error stays open"),
    ("readerror", "port/mscomm.cpp", "error != QSerialPort::ReadError && error != QSerialPort::ResourceError",
     "error != QSerialPort::ResourceError", "a device lost with a read error stays open"),
    ("lost", "port/mscomm.cpp", "    emit portLost();\n", "", "the window is not told of a lost device"),
    ("lastwords", "port/mscomm.cpp", "        m_reader->stop();\n        takeFromDevice(m_reader->take());\n",
     "        m_reader->stop();\n", "data the reader had read before a loss dropped"),
    ("bound", "port/mscomm.cpp", "if (m_port.bytesToWrite() >= kOutputLimit)", "if (false)",
     "the output queue grows without bound"),
    ("utf8", "port/mscomm.cpp", "setOutput(encodeGbk(text));", "setOutput(text.toUtf8());",
     "text sent as UTF-8"),
    # port/paritymarks.cpp
    ("badbyte", "port/paritymarks.cpp", "out.append(kBadByte);", "out.append(bytes[i + 2]);",
     "a byte with a parity error passes as good"),
    # port/portmap.cpp
    ("natural", "port/portmap.cpp", "return numberA < numberB;", "return numberA > numberB;",
     "ports numbered in reverse"),
    ("usbfirst", "port/portmap.cpp", "usb + other", "other + usb", "USB adapters after the other ports"),
    ("twice", "port/portmap.cpp", "seen.contains(device) || consoles.contains(device)", "consoles.contains(device)",
     "a listed device is counted twice"),
    ("lastport", "port/portmap.cpp", "portNumber > list.size()", "portNumber >= list.size()",
     "the last device cannot be opened"),
    # port/portselection.cpp
    ("oddletter", "port/portselection.cpp", 'if (text == Texts::kParityOdd)\n        return QStringLiteral("O");',
     'if (text == Texts::kParityOdd)\n        return QStringLiteral("E");', '"奇Odd" gives even parity'),
    ("lamp", "port/portselection.cpp", "        form.showPortClosed();\n", "",
     "another port closes this one but the lamp stays red"),
    ("portnumber", "port/portselection.cpp", "setCommPort(form.Combo1->ListIndex() + 1)",
     "setCommPort(form.Combo1->ListIndex())", "list position taken as port number"),
    ("trim", "port/portselection.cpp", "form.Combo2->text().trimmed()", "form.Combo2->text()",
     "a typed baud with blanks refused"),
    ("partial", "port/portselection.cpp", "if (invalid.isEmpty()\n", "if (invalid.size() <= 1\n",
     "settings written with one unusable box"),
    ("nomark", "port/portselection.cpp", "invalid.contains(field) ? bad", "invalid.contains(field) ? QString()",
     "an unusable box is not marked"),
    # port/textcodec.cpp
    ("lead81", "port/textcodec.cpp", "b >= 0x81 && b <= 0xFE", "b > 0x81 && b <= 0xFE", "0x81 not a lead byte"),
    ("leadFF", "port/textcodec.cpp", "b >= 0x81 && b <= 0xFE", "b >= 0x81 && b <= 0xFF", "0xFF taken as a lead byte"),
    ("endlead", "port/textcodec.cpp", "if (i + 1 == n)\n                break;",
     "if (i + 1 == n) {\n                ++i;\n                break;\n            }",
     "a lead byte at the end of a read decoded alone"),
    # terminal/receiveview: the receive store, its scratch file and saving
    ("loneCR", "terminal/capture/piecetable.cpp", "return cut < held || at(held - 1) != u'\\r';",
     "return true;", "a CR at the end dropped, so its LF arrives alone"),
    ("midtoken", "terminal/capture/piecetable.cpp",
     "(TextUnits::kHexTokenChars - local % TextUnits::kHexTokenChars) % TextUnits::kHexTokenChars", "0",
     "the oldest hex cut inside a token"),
    ("midpair", "terminal/capture/piecetable.cpp",
     "if (TextUnits::isInsideUnit(at(cut - 1), at(cut)))\n                ++cut;", "",
     "the oldest text cut inside a surrogate pair"),
    ("diskfirst", "terminal/capture/receivestore.cpp",
     "if (freedMemory >= memoryBytes && !piece.chunk->spilled())\n            break;", "",
     "a full disk drops the newest data still in memory"),
    ("waitcap", "terminal/capture/scratchblocks.cpp", "if (unwritten > m_settings.waitingBytes)", "if (false)",
     "chunks the disk refused pile up in memory"),
    ("origin", "terminal/capture/piecetable.cpp", "    m_origin = 0;\n    m_end = 0;\n", "    m_end = 0;\n",
     "a clear after a drop leaves the origin behind"),
    ("summary", "terminal/capture/piecetable.cpp", "chunk.firstBreak >= localFrom", "chunk.firstBreak >= 0",
     "a line end on disk taken from before the position"),
    ("unsealed", "terminal/capture/sealedblock.cpp", "    out.truncate(qsizetype(kNonce + written));\n    return out;",
     "    return packed.left(qsizetype(packedSize));", "blocks written compressed but not encrypted"),
    ("tmpfs", "terminal/capture/scratchfile.cpp", "if (inMemory(fs) && !place.allowMemoryFileSystem)",
     "if (false)", "the scratch file put on a tmpfs"),
    ("mode", "terminal/capture/scratchfile.cpp", "O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR",
     "O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH", "the scratch file readable by others"),
    ("budget", "terminal/capture/scratchfile.cpp",
     "return free - std::max(m_place.minFreeBytes, total / 100 * m_place.minFreePercent);", "return free;",
     "the file grows into the reserve the disk keeps free"),
    ("buffered", "terminal/receiveview/capturewriter.cpp", "m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)",
     "m_file.open(QIODevice::WriteOnly)", "a save cut short by a full disk taken for a whole one"),
    ("gone", "terminal/receiveview/capturewriter.cpp", "    if (m_next < m_store.origin())\n        return stop(DataGone);\n",
     "", "a save goes on after the data it needs made way"),
    ("copybound", "terminal/receiveview/savedialog.cpp", "if (characters <= kCopyLimitChars)", "if (true)",
     "a huge selection copied whole"),
    # terminal/counter.cpp
    ("zeros", "terminal/counter.cpp", "first + 1 < digits.size()", "first < digits.size()",
     '"0" loses its only digit'),
    ("carry", "terminal/counter.cpp", "while (i >= 0 || j >= 0 || carry)", "while (i >= 0 || j >= 0)",
     "the last carry of a long count dropped"),
    # terminal/hexformat.cpp
    ("lower", "terminal/capture/textunits.h", 'u"0123456789ABCDEF"', 'u"0123456789abcdef"',
     "hex shown in lower case"),
    ("nibbles", "terminal/capture/textunits.h",
     "*out++ = kHexDigits[bytes[i] >> 4];\n        *out++ = kHexDigits[bytes[i] & 15];",
     "*out++ = kHexDigits[bytes[i] & 15];\n        *out++ = kHexDigits[bytes[i] >> 4];", "hex digits in the wrong order"),
    ("hexF", "terminal/hexformat.cpp", "u >= u'A' && u <= u'F'", "u >= u'A' && u < u'F'", "F is not a hex digit"),
    ("over255", "terminal/hexformat.cpp", "value > 0xFF", "value > 0xFFF", "a value above FF sent"),
    ("tabs", "terminal/hexformat.cpp", "text[i] != u' ' && text[i] != u'\\t'", "text[i] != u' '",
     "a tab between bytes refused"),
    ("emptyhex", "terminal/hexformat.cpp", "    if (bytes.isEmpty())\n        return std::nullopt;\n", "",
     "empty hex text accepted"),
    # terminal/receive.cpp
    ("hexmode", "terminal/receive.cpp",
     "void Option1_Click(Form1 &form)\n{\n    form.MSComm1->setInputMode(MSComm::comInputModeBinary);",
     "void Option1_Click(Form1 &form)\n{\n    form.MSComm1->setInputMode(MSComm::comInputModeText);",
     "the hex option leaves text display on"),
    ("countbytes", "terminal/receive.cpp", "addToCounter(form.Label10->text(), text.size())",
     "addToCounter(form.Label10->text(), text.toUtf8().size())", "received text counted in bytes"),
    ("counthex", "terminal/receive.cpp", "addToCounter(form.Label10->text(), bytes->size())",
     "addToCounter(form.Label10->text(), bytes->size() * 3)", "hex counted in characters shown"),
    # terminal/send.cpp
    ("sentlabel", "terminal/send.cpp", "form.Label11->setText(addToCounter(form.Label11->text(), amount));",
     "form.Label10->setText(addToCounter(form.Label10->text(), amount));", "sends counted as received"),
    ("sentbytes", "terminal/send.cpp", "transmit(form, origin, text, text.size());",
     "transmit(form, origin, text, text.toUtf8().size());", "sent text counted in bytes"),
    ("storm", "terminal/send.cpp", "    if (origin == SendOrigin::AutoSend)\n        stopAutoSend(form);\n", "",
     "a failing auto-send goes on, one box per tick"),
    ("period", "terminal/send.cpp", "form.Timer2->setInterval(*period);", "form.Timer2->setInterval(1000);",
     "the period box ignored"),
    ("maxperiod", "terminal/send.cpp", "*value > std::numeric_limits<int>::max()",
     "*value >= std::numeric_limits<int>::max()", "the longest period refused"),
    ("stacked", "terminal/send.cpp", "    if (msgBoxOpen())\n        return;\n", "",
     "auto-send ticks run while a box waits"),
    ("closedsend", "terminal/send.cpp", "if (!form.MSComm1->PortOpen()) {", "if (false) {",
     'no "请打开串口" with the port closed'),
    # the send area's line end and history, and sending a file
    ("lineend", "terminal/send.cpp", "form.Text2->text() + form.Text2->lineEnd()", "form.Text2->text()",
     "the chosen line end never sent"),
    ("fileoverlap", "terminal/send.cpp", "if (sendingFile(form)) {", "if (false) {",
     "a send by hand lands in the middle of a file"),
    ("historymove", "terminal/sendhistory.cpp", "m_entries.move(old, 0);\n        return;", "return;",
     "a send made again stays where it was in the history"),
    ("historydraft", "terminal/sendhistory.cpp", "    if (m_at < 0)\n        m_draft = current;\n", "",
     "what was being typed is lost after a walk through the history"),
    ("historybound", "terminal/sendhistory.cpp", "m_entries.size() > kEntries", "m_entries.size() > kEntries + 1",
     "101 entries kept"),
    ("filecancel", "terminal/sendfile.cpp",
     "QObject::connect(dialog, &QProgressDialog::canceled, sender, &FileSender::cancel);", "",
     "the progress dialog's cancel does not stop the sending"),
    ("partialwrite", "terminal/filesender.cpp", "m_offset += n;", "m_offset = m_slice.size();",
     "the rest of a partly written slice skipped"),
    ("filecount", "terminal/sendfile.cpp", "addToCounter(form.Label11->text(), bytes)",
     "addToCounter(form.Label11->text(), FileSlices::kSliceSize)", "a file counted in slices, not bytes written"),
    # window/commands.cpp
    ("reset", "window/commands.cpp", "    form.Label11->setText(Texts::kZero);\n", "",
     '"清空计数" leaves the sent counter'),
    ("clear", "window/commands.cpp", "void Command3_Click(Form1 &form)\n{\n    form.Text1->setText(QString());",
     "void Command3_Click(Form1 &form)\n{\n    form.Text2->setText(QString());", '"清接收区" clears the send area'),
    ("early", "window/commands.cpp",
     "form.MSComm1->setPortOpen(true);\n            form.showPortOpen();",
     "form.showPortOpen();\n            form.MSComm1->setPortOpen(true);", "shown open before the open succeeded"),
    ("scheme", "window/commands.cpp", 'QStringLiteral("http://")', 'QStringLiteral("")',
     "the home address handed over without a scheme"),
    ("busy", "window/commands.cpp", "return Texts::kReasonBusy.arg(device);",
     "return Texts::kReasonOther.arg(device, QString());", "a busy device not reported as busy"),
    ("portlost", "window/commands.cpp", "void MSComm1_PortLost(Form1 &form)\n{\n    form.showPortClosed();",
     "void MSComm1_PortLost(Form1 &form)\n{", "a lost device still shown open"),
    # window/form1.cpp, layout.h, startup.cpp and the small controls
    ("cyan", "window/form1.cpp", "QColor(192, 255, 255)", "QColor(192, 255, 192)", "the closed lamp's colour"),
    ("tipfields", "window/form1.cpp", ".arg(i + 1).arg(devices[i])", ".arg(devices[i]).arg(i + 1)",
     "the port tooltip's fields swapped"),
    ("resizable", "window/form1.cpp", "setFixedSize(kClientWidthTwips", "setMinimumSize(kClientWidthTwips",
     "the window can be resized"),
    ("place", "window/layout.h", '{ "Combo3", "Frame3", 840, 1320, 1095, 300 }',
     '{ "Combo3", "Frame3", 840, 1335, 1095, 300 }', "a box moved down by one pixel"),
    ("com16", "window/startup.cpp", "n <= PortMap::kListedPorts", "n < PortMap::kListedPorts", "COM16 missing"),
    ("hexstart", "window/startup.cpp", "form.Option2->setValue(true);", "form.Option1->setValue(true);",
     "the window starts in hex display"),
    ("shown", "window/combobox.cpp", "        setCurrentIndex(-1);\n        setEditText(shown);\n",
     "        setCurrentIndex(-1);\n", "a filled list replaces the box's initial text"),
    ("wheel", "window/combobox.cpp", "if (!hasFocus()) {", "if (false) {", "a wheel notch over a box turns it"),
    ("tick0", "window/intervaltimer.cpp", "m_enabled && m_interval > 0", "m_enabled && m_interval >= 0",
     "a timer with interval 0 ticks"),
    ("restart", "window/intervaltimer.cpp", "if (!m_timer.isActive() || m_timer.interval() != m_interval)",
     "if (m_timer.interval() != m_interval)", "a timer enabled again with its old interval stays stopped"),
    ("optionclick", "window/optionbutton.cpp", "        if (on)\n            emit Click();",
     "        if (!on)\n            emit Click();", "an option clicks when it is cleared"),
    ("fits", "window/sendline.cpp", "<= maxLength()", "< maxLength()", "a paste that exactly fills is refused"),
    ("boxcount", "window/messagebox.cpp", "    --openBoxes;\n", "", "a closed box still counts as open"),
    # What a user trips over: counters, reasons, saving, text-view habits, tooltips
    ("countercut", "window/counterlabel.cpp", "    if (shown == font())\n        return QLabel::paintEvent(event);\n",
     "    return QLabel::paintEvent(event);\n", "a long count is cut to the digits that fit its box"),
    ("stalesel", "terminal/receiveview/receivearea.cpp", "            clipboard->clear(QClipboard::Selection);\n",
     "            return;\n", "a selection too large to hand over leaves the older primary selection"),
    ("errno", "terminal/receiveview/capturewriter.cpp", "return errno != 0 ? errno : EIO;", "return EIO;",
     "every failed save is blamed on an I/O error"),
    ("triple", "terminal/receiveview/receiveareainput.cpp", "m_cursor.lineAt(positionAt(event->position()))",
     "m_cursor.wordAt(positionAt(event->position()))", "a triple click selects a word"),
    ("stem", "terminal/receiveview/savedialog.cpp", "field->setSelection(0, int(stem));", "field->selectAll();",
     "the offered name is selected with its extension"),
    ("inuse", "port/portselection.cpp",
     "problem.isEmpty() ? problem : problem + u'\\n' + Texts::kSettingsInUse.arg(has.toString())", "problem",
     "a red box's tooltip does not name the settings in use"),
    ("nobrowser", "window/commands.cpp", "if (!QDesktopServices::openUrl(QUrl(address)))",
     "if (!QDesktopServices::openUrl(QUrl(address)) && false)", "检查更新 without a browser says nothing"),
]

# The port's menu, its control lines and an adapter that comes back.
MUTANTS += [
    ("bylink", "port/portmap.cpp", "const QString device = canonical(path);\n        if (seen",
     "const QString device = path;\n        if (seen",
     "a by-id link and its node listed as two ports"),
    ("console", "port/portmap.cpp", "seen.contains(device) || consoles.contains(device)", "seen.contains(device)",
     "the kernel's console offered"),
    ("xonxoff", "port/mscommlines.cpp", "case MSComm::comXOnXoff:\n        return QSerialPort::SoftwareControl;",
     "case MSComm::comXOnXoff:\n        return QSerialPort::HardwareControl;", "XON/XOFF set as RTS/CTS"),
    ("flowopen", "port/mscommlines.cpp", "if (m_port.isOpen() && mode != m_handshaking)", "if (false)",
     "flow control chosen while open waits for the next open"),
    ("dtragain", "port/mscomm.cpp", "    if (m_dtr)\n        m_modemLines->set(m_port.handle(), TIOCM_DTR, *m_dtr);\n",
     "", "a chosen DTR forgotten at the next open"),
    ("linesnews", "port/portreader.cpp", "        if (changed)\n            signal(m_notify);\n", "",
     "a control line's change never reaches the window"),
    ("otherport", "port/mscomm.cpp", "    // Another port chosen: the one that went away is no longer awaited.\n    stopWatching();\n",
     "", "choosing another port leaves the wait for the lost one on"),
    ("switchoff", "port/mscommlines.cpp", "    if (!on)\n        stopWatching();\n", "",
     "switching reopening off leaves the wait on"),
    ("anyadapter", "port/adapteridentity.cpp", "return (!serial.isEmpty() && !serialShared) || usbPath == other.usbPath;",
     "return true;", "any adapter of the same kind opened in place of the lost one"),
    ("twin", "port/adapteridentity.cpp", "identity->serialShared = true;", "identity->serialShared = false;",
     "a twin with the same serial number opened in place of the lost one"),
    ("comfollows", "window/portcontrol.cpp", "    form.Combo1->setCurrentIndex(form.MSComm1->CommPort() - 1);\n", "",
     "the port list shows the old number of an adapter that came back"),
    ("hungup", "window/portcontrol.cpp", "comm.lossError() == EIO ? Texts::kHungUp :", "false ? Texts::kHungUp :",
     "an unplugged adapter reported as an I/O error"),
    ("rtsflow", "window/portcontrol.cpp", "noLines.isEmpty() && mode == MSComm::comRTS", "false",
     "RTS offered while the driver drives it"),
    # The reader's pacing, what is announced, the open button's reasons, saving's words and what it leaves
    # behind, and the boxes of a save
    ("ack", "port/mscomm.cpp", "    m_reader->acknowledge();\n", "",
     "the reader's notice never cleared: the window's thread spins while the port is open"),
    ("pollnow", "port/portreader.cpp", "if (::poll(fds, 2, timeout) < 0) {", "if (::poll(fds, 2, 0) < 0) {",
     "the reader polls without waiting: an idle port spins"),
    ("chunkcount", "port/portreader.cpp", "room = m_size < kReadAhead;",
     "room = qsizetype(m_chunks.size()) < kReadAhead;", "the read-ahead counted in chunks, not bytes: no bound"),
    ("rearm", "port/mscomm.cpp", "const bool waiting = m_reader && m_reader->rearm();",
     "const bool waiting = m_reader && m_reader->waiting();", "the reader never re-armed: later arrivals unannounced"),
    ("lossfirst", "port/mscomm.cpp",
     "    if (!m_pending.isEmpty()) {\n        m_commEvent = comEvReceive;\n        emit OnComm();\n    }\n    emit portLost();\n",
     "    emit portLost();\n    if (!m_pending.isEmpty()) {\n        m_commEvent = comEvReceive;\n        emit OnComm();\n    }\n",
     "the loss announced before the bytes that came before it"),
    ("eperm", "port/mscomm.cpp", "R_OK | W_OK) != 0 && errno == EACCES)", "R_OK | W_OK) != 0 && errno == EPERM)",
     "a refused access reported as a busy device"),
    ("busyerrno", "port/mscomm.cpp", "failOpen(CommError::DeviceBusy, EBUSY);",
     "failOpen(CommError::DeviceBusy, systemError);", "a busy device carries a stale error number"),
    ("english", "window/texts.h", "return QStringLiteral(\"：\") + systemReason(systemError);",
     "return QStringLiteral(\"：%1\").arg(systemError);", "an open failure's reason as a bare number"),
    ("cancelcommit", "terminal/receiveview/capturewriter.cpp", "            m_file.cancelWriting();\n", "",
     "a failed or cancelled save keeps what it had written as the file"),
    ("isdir", "terminal/receiveview/capturewriter.cpp", "existing.isDir() ? EISDIR", "existing.isDir() ? EACCES",
     "a folder by the file's name reported as no permission"),
    ("permille", "terminal/receiveview/savedialog.cpp", "Texts::kSaveCancel, 0, 1000, parent)",
     "Texts::kSaveCancel, 0, 100, parent)", "the progress bar's range in percent, its steps per mille"),
    
    ("qtwords", "terminal/receiveview/savedialog.cpp", "Texts::kSaveFailedReason.arg(Texts::systemReason(error))",
     "Texts::kSaveFailedReason.arg(QString::number(error))", "a failed save's reason as a bare number"),
    ("savetitle", "terminal/receiveview/savedialog.cpp", "MsgBoxLater(parent, text, Texts::kSaveTitle,",
     "MsgBoxLater(parent, text, Texts::kProgramTitle,", "a save's box with the program's title"),
    ("latercount", "window/messagebox.cpp",
     "    ++openBoxes;\n    QObject::connect(box, &QObject::destroyed, [] { --openBoxes; });\n", "",
     "a save's box not counted as open: auto-send ticks run behind it"),
]

# Mutants that change nothing anyone could observe, with the reason; listed, not scored.
EQUIVALENT = {
    "readerror": "QSerialPort reports a ReadError only from its own reads (its read notifier or waitForReadyRead); "
                 "the reader thread is the only reader of the descriptor, the component disables that notifier at "
                 "open and never reads through QSerialPort, so the error never comes. A hang-up or a pulled-out "
                 "adapter is found by the reader thread (its failure), or as a ResourceError by a write",
}

# Survivors known and left, with the reason.
LEFT = {
    "lead81": "seen only when the display turns to hex between a character's lead byte 81 and its trail byte; "
              "otherwise the decoder's own state joins the two halves",
}


# Times of arrival, find off the window's thread, the reader's pieces, the drop for room.
MUTANTS += [
    ("timesdrop", "terminal/capture/arrivaltimes.cpp", "    m_keptFrom = std::max(m_keptFrom, at);\n", "",
     "times kept for text that made way"),
    ("crlftwice", "terminal/receiveview/linetimes.cpp", "        if (text[brk] == u'\\r' && i < text.size() && text[i] == u'\\n')\n            ++i;\n",
     "", "a CR LF begins two lines"),
    ("idleatgap", "terminal/capture/arrivaltimes.cpp",
     "        for (auto it = first; it != end; ++it) {\n            if (it->idle >= gapMs)",
     "        for (auto it = first; it != end; ++it) {\n            if (it->idle > gapMs)",
     "a pause exactly as long as the chosen one starts no row"),
    ("idlerowlate", "terminal/receiveview/linesegments.cpp", "std::min(position + 1, m_store.size())",
     "std::min(position, m_store.size())", "the first byte after a pause is placed on the row before"),
    ("pausekept", "terminal/receiveview/linetimes.cpp", "idle >= kRunGapMs ? idle : 0", "0",
     "the pause before a hex run is never kept"),
    ("gapkeys", "terminal/receiveview/timegutter.cpp", "u'A' + i - 1", "u'A' + i",
     "the pause menu's keys shifted by one entry"),
    ("nowrap", "terminal/receiveview/finder.cpp", "        if (m_wrap && !m_wrapped) {", "        if (false) {",
     "find never goes on from the other end"),
    ("straddle", "terminal/receiveview/findscan.cpp",
     "        if (!carry.isEmpty()) {\n            const qint64 windowStart", "        if (false) {\n            const qint64 windowStart",
     "a match across two pieces is not found"),
    ("lastlane", "terminal/receiveview/textsearch.h", "_mm_packs_epi16(low, high))); both != 0;",
     "_mm_packs_epi16(low, high))) & 0x7fff; both != 0;", "text at the last of sixteen places tested together is not found"),
    ("foldother", "terminal/receiveview/textsearch.h", "_mm_cmpeq_epi16(v, p.other));", "_mm_cmpeq_epi16(v, p.value));",
     "in any case, a character past ASCII that folds to the needle's first or last letter is passed over"),
    ("breakat", "terminal/capture/chunk.cpp", "found.push_back(first + quint32(i + (std::countr_zero(mask) >> 1)));",
     "found.push_back(quint32(i + (std::countr_zero(mask) >> 1)));", "a break found at the wrong place"),
    ("textrecord", "port/mscomminput.cpp", "                if (!piece.bytes.isEmpty())\n                    emit inputTaken(piece.bytes);\n",
     "", "bytes decoded by the reader never reach the record"),
    ("tenth", "terminal/capture/scratchblocks.cpp", "m_file->diskBytes() / 10), 0);", "m_file->diskBytes()), 0);",
     "a full disk drops the whole capture on disk"),
]

# Small blocks packed into extents of the scratch file.
MUTANTS += [
    ("extentheld", "terminal/capture/scratchfile.cpp", "if (extent->second.live > 0 || extent->first == m_open)",
     "if (extent->first == m_open)", "an extent punched out while a block in it is still held"),
    ("packoffset", "terminal/capture/scratchfile.cpp", "        extent->second.used += length;\n", "",
     "every block of an extent written over the one before"),
    ("extenttail", "terminal/capture/scratchfile.cpp", "const qint64 kept = rounded(extent->second.used);",
     "const qint64 kept = extent->second.used / m_block * m_block;",
     "a closed extent's last, partly used file system block given back"),
]

def run(cmd, timeout=None, quiet=True):
    out = subprocess.DEVNULL if quiet else None
    try:
        return subprocess.run(cmd, cwd=ROOT, stdout=out, stderr=out, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


# What the suite runs: the test programs and the two programs the install check installs. The benchmarks are left
# out, so a mutant costs one compile and the links of these.
TARGETS = ["tst_port", "tst_terminal", "tst_window", "tst_vport", "tst_receivearea", "tst_receivestore", "tst_save",
           "tst_reader", "zelcom_app", "zelcom_vport"]


TARGETS += ["tst_modem"]
# Without these the record, find and times tests would run the unchanged program against every mutant.
TARGETS += ["tst_record", "tst_find", "tst_times"]
# The piece table's own test.
TARGETS += ["tst_piecetable"]


def build(build_dir, everything=False):
    targets = [] if everything else ["--target", *TARGETS]
    return run(["cmake", "--build", str(build_dir), "-j2", *targets], timeout=1800 if everything else 900) == 0


def suite(build_dir):
    """True when every test passes; the first failure ends the run."""
    env_cmd = ["env", "QT_QPA_PLATFORM=offscreen", "ctest", "--test-dir", str(build_dir), "--stop-on-failure",
               "--timeout", "120"]
    return run(env_cmd, timeout=900) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="build tree (configured here if missing)")
    parser.add_argument("--sample", type=int, help="run a random sample of this many mutants")
    parser.add_argument("--seed", type=int, default=1, help="seed for --sample")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    args = parser.parse_args()

    chosen = MUTANTS
    if args.only:
        ids = args.only.split(",")
        chosen = [m for m in MUTANTS if m[0] in ids]
    if args.sample:
        chosen = sorted(random.Random(args.seed).sample(chosen, min(args.sample, len(chosen))),
                        key=MUTANTS.index)
    if args.list:
        for mid, path, _, _, what in chosen:
            print(f"{mid:12} {path:28} {what}{'  [equivalent]' if mid in EQUIVALENT else ''}")
        return 0

    build_dir = ROOT / args.build
    os.environ.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    if not (build_dir / "CMakeCache.txt").exists():
        run(["cmake", "-S", ".", "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])
    print("baseline: building and running the suite unchanged ...", flush=True)
    # Everything once, as the install check needs it in a fresh build tree; then only what a mutant changes.
    if not build(build_dir, everything=True) or not suite(build_dir):
        print("the unchanged suite does not pass: nothing to measure", file=sys.stderr)
        return 2

    current = {"path": None, "text": None}

    def restore():
        if current["path"] is not None:
            current["path"].write_bytes(current["text"])
            current["path"] = None

    def interrupted(signum, frame):
        restore()
        sys.exit(130)

    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)

    caught, survived, stale, broken = [], [], [], []
    try:
        for n, (mid, rel, old, new, what) in enumerate(chosen, 1):
            path = ROOT / rel
            original = path.read_bytes()
            text = original.decode()
            if text.count(old) != 1:
                stale.append(mid)
                print(f"[{n}/{len(chosen)}] {mid}: stale (its text is found {text.count(old)} times)", flush=True)
                continue
            start = time.monotonic()
            current.update(path=path, text=original)
            path.write_text(text.replace(old, new))
            if not build(build_dir):
                verdict = "does not build"
                broken.append(mid)
            elif suite(build_dir):
                verdict = "SURVIVED"
                survived.append((mid, rel, what))
            else:
                verdict = "caught"
                caught.append(mid)
            restore()
            print(f"[{n}/{len(chosen)}] {mid}: {verdict} ({rel}: {what}; {time.monotonic() - start:.0f} s)",
                  flush=True)
    finally:
        restore()
        build(build_dir)

    scored_survivors = [s for s in survived if s[0] not in EQUIVALENT]
    scored = len(caught) + len(scored_survivors)
    print()
    print(f"mutants: {len(chosen)}; caught {len(caught)}, survived {len(survived)}, "
          f"not built {len(broken)}, stale {len(stale)}")
    if scored:
        print(f"score: {len(caught)}/{scored} = {100 * len(caught) / scored:.0f} % of the non-equivalent mutants caught")
    for mid, rel, what in survived:
        reason = f": equivalent, {EQUIVALENT[mid]}" if mid in EQUIVALENT else f": left, {LEFT[mid]}" if mid in LEFT else ""
        print(f"  survivor {mid} ({rel}: {what}){reason}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
