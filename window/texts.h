// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every text the user sees, exactly as shown (blanks included).

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cerrno>

namespace Texts {

inline const QString kWindowTitle = QStringLiteral("ZEL串口调试软件 ");
inline const QString kProgramTitle = QStringLiteral("串口调试程序");

inline const QString kFrame1 = QStringLiteral("接收区");
inline const QString kFrame2 = QStringLiteral("发送区");
inline const QString kFrame3 = QStringLiteral("端口设置");
inline const QString kFrame4 = QStringLiteral("打开/关闭串口");

inline const QString kLabel1 = QStringLiteral("发送周期");
inline const QString kLabel2 = QStringLiteral("毫秒");
inline const QString kLabel3 = QStringLiteral("COM口");
inline const QString kLabel4 = QStringLiteral("波特率");
inline const QString kLabel5 = QStringLiteral("校验位");
inline const QString kLabel6 = QStringLiteral("数据位");
inline const QString kLabel7 = QStringLiteral("停止位");
inline const QString kLabel8 = QStringLiteral("接收");
inline const QString kLabel9 = QStringLiteral("发送");

inline const QString kOpenPort = QStringLiteral("打开串口");
inline const QString kClosePort = QStringLiteral("关闭串口");
inline const QString kCheckUpdate = QStringLiteral("检查更新");
inline const QString kClearReceive = QStringLiteral("清接收区");
inline const QString kClearSend = QStringLiteral("清发送区");
inline const QString kSendOnce = QStringLiteral("手动发送");
inline const QString kAutoSend = QStringLiteral("自动发送");
inline const QString kStopAutoSend = QStringLiteral("关闭自动发送");
inline const QString kResetCounters = QStringLiteral("清空计数");

inline const QString kOptionHexDisplay = QStringLiteral("十六进制");
inline const QString kOptionTextDisplay = QStringLiteral("字符格式");
inline const QString kOptionTextSend = QStringLiteral("字符格式显示");
inline const QString kOptionHexSend = QStringLiteral("十六进制显示");

inline const QString kParityNone = QStringLiteral("无None");
inline const QString kParityOdd = QStringLiteral("奇Odd");
inline const QString kParityEven = QStringLiteral("偶Even");

// The settings lists' entries, in list order; the port list holds kPortName for 1 to PortMap::kListedPorts.
inline const QString kPortName = QStringLiteral("COM%1");
inline const QStringList kBaudRates
    = { QStringLiteral("256000"), QStringLiteral("128000"), QStringLiteral("115200"), QStringLiteral("57600"),
          QStringLiteral("38400"), QStringLiteral("28800"), QStringLiteral("19200"), QStringLiteral("9600"),
          QStringLiteral("4800"), QStringLiteral("2400"), QStringLiteral("1200"), QStringLiteral("600") };
inline const QStringList kParities = { kParityNone, kParityOdd, kParityEven };
inline const QStringList kDataBits
    = { QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8") };
inline const QStringList kStopBits = { QStringLiteral("1"), QStringLiteral("2") };

inline const QString kInitialPort = QStringLiteral("COM1");
inline const QString kInitialBaud = QStringLiteral("9600");
inline const QString kInitialDataBits = QStringLiteral("8");
inline const QString kInitialStopBits = QStringLiteral("1");
inline const QString kInitialPeriod = QStringLiteral("1000");
inline const QString kZero = QStringLiteral("0");

// The product's home, a bare host name; the web-page command adds the scheme.
inline const QString kHomeAddress = QStringLiteral("zel.example");

// "检查更新" when the desktop cannot open a browser; %1 the address, on a line of its own.
inline const QString kNoBrowser = QStringLiteral("无法打开浏览器。");
inline const QString kNoBrowserHint = QStringLiteral("请在浏览器中访问以下网址：\n%1");

// The port error box.
inline const QString kPortErrorTitle = QStringLiteral("zel串口调试助手");
inline const QString kPortUnavailable = QStringLiteral("端口号不可用");
inline const QString kReasonNoDevice = QStringLiteral("COM%1 没有对应的串口设备。");
// The command on a line of its own, so that no box breaks it.
inline const QString kReasonPermission = QStringLiteral(
    "没有权限打开 %1。\n请用下面的命令将当前用户加入 dialout 组，重新登录后再试：\nsudo usermod -aG dialout $USER");
inline const QString kReasonBusy = QStringLiteral("%1 正被其他程序占用。请关闭占用它的程序后再试。");
// %1 the device, %2 failureReason() (or nothing).
inline const QString kReasonOther = QStringLiteral("无法打开 %1%2。");
// %1 the device, %2 the settings ("9600,N,7,1"), %3 failureReason() (or nothing).
inline const QString kReasonSettings = QStringLiteral("%1 不接受这组设置（%2）%3。");

// A number of things (characters, bytes) as the boxes write it: digits grouped by thousands, "8,388,608".
// Numbers the user is asked to type are written as typed, without grouping.
inline QString count(qint64 n)
{
    return QLocale(QLocale::Chinese, QLocale::China).toString(n);
}

// Why a file or a device refused, for the system's error number: one table for saving, recording,
// sending a file and opening a port, in Chinese whatever the locale (the system's own words follow
// the locale and may be English). A number not in the table is named as it stands.
inline QString systemReason(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("磁盘空间已满");
    case EDQUOT:
        return QStringLiteral("超出了磁盘配额");
    case EFBIG:
        return QStringLiteral("文件超过了允许的最大长度");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case ENOTDIR:
        return QStringLiteral("路径中有一部分不是文件夹");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    case EIO:
        return QStringLiteral("输入输出错误（设备或磁盘出错）");
    case EBUSY:
        return QStringLiteral("设备正被占用");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("设备不存在或已被拔出");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("打开的文件太多");
    case ENOMEM:
        return QStringLiteral("内存不足");
    case ETXTBSY:
        return QStringLiteral("文件正被其他程序使用");
    case ESTALE:
        return QStringLiteral("网络文件系统上的文件已失效");
    case ENOTTY:
        return QStringLiteral("不是串口设备");
    case EINVAL:
        return QStringLiteral("参数无效");
    default:
        return QStringLiteral("系统错误 %1").arg(error);
    }
}

// Why, after a colon, for a failure that gave the system's error number or else the serial port's own;
// nothing when it gave neither.
inline QString failureReason(int systemError, int portError)
{
    if (systemError != 0)
        return QStringLiteral("：") + systemReason(systemError);
    return portError != 0 ? QStringLiteral("：串口错误 %1").arg(portError) : QString();
}

// The send command and auto-send.
inline const QString kOpenThePortFirst = QStringLiteral("请打开串口");
inline const QString kBadHexBytes
    = QStringLiteral("请输入 00 到 FF 之间的十六进制数，以空格分隔（例如 AA 55 01 0D）。");
// %1 the characters pasted, %2 the most the send area holds (both written with count()).
inline const QString kPasteTooLong
    = QStringLiteral("粘贴的内容共 %1 个字符，超过了发送区的上限（%2 个字符），未粘贴。");
inline const QString kOutputBusy = QStringLiteral("上一次的数据尚未发送完毕，本次未发送。请稍后再试。");
inline const QString kSendFailed = QStringLiteral("串口拒绝接收数据，本次未发送。");
inline const QString kBadPeriod = QStringLiteral("发送周期无效：请输入 0 到 2147483647 之间的整数（单位：毫秒）。");

// The settings boxes, shown in the box's tooltip while its text cannot be used or is not in use, always
// followed by kSettingsInUse on a line of its own.
inline const QString kBadBaud = QStringLiteral("波特率无效：请输入一个正整数。");
inline const QString kBadParity = QStringLiteral("校验位无效：请从列表中选择。");
inline const QString kBadDataBits = QStringLiteral("数据位无效：只能是 5、6、7 或 8。");
inline const QString kBadStopBits = QStringLiteral("停止位无效：只能是 1 或 2。");
// %1 failureReason() (or nothing).
inline const QString kSettingsRefused = QStringLiteral("串口设备不接受这组设置%1。");
// A usable box whose setting waits for another box to be mended.
inline const QString kSettingsWaiting = QStringLiteral("其他设置无效，此项设置尚未生效。");
// %1 the settings the port keeps ("9600,N,8,1").
inline const QString kSettingsInUse = QStringLiteral("当前仍在使用 %1。");

// Combo1's tooltip: which device each port number stands for right now.
inline const QString kPortTipLine = QStringLiteral("COM%1 = %2");
inline const QString kPortTipNone = QStringLiteral("没有找到串口设备");

// What a screen reader says for the lamp and the counters (the counters add their number).
inline const QString kLampOpenName = QStringLiteral("串口已打开");
inline const QString kLampClosedName = QStringLiteral("串口已关闭");
inline const QString kReceivedCountName = QStringLiteral("接收计数");
inline const QString kSentCountName = QStringLiteral("发送计数");

// The receive area's context menu.
inline const QString kMenuCut = QStringLiteral("剪切(&T)");
inline const QString kMenuCopy = QStringLiteral("复制(&C)");
inline const QString kMenuPaste = QStringLiteral("粘贴(&P)");
inline const QString kMenuSelectAll = QStringLiteral("全选(&A)");
inline const QString kMenuSaveAll = QStringLiteral("保存全部接收内容(&S)…");
inline const QString kMenuSaveSelection = QStringLiteral("保存选中内容(&V)…");

// Copying a selection larger than the program copies at once; %1 the selection's characters, %2 the most
// that is copied (both written with count()).
inline const QString kCopyTooLarge = QStringLiteral("选中的内容共 %1 个字符，超过了复制的上限（%2 个字符），未复制。");
inline const QString kCopyTooLargeHint = QStringLiteral("请用右键菜单中的“保存选中内容…”将其保存到文件。");

// Saving the receive area to a file; %1 the date and time the dialog opened (20261207-193012).
inline const QString kSaveTitle = QStringLiteral("保存接收内容");
inline const QString kSaveFilter = QStringLiteral("文本文件 (*.txt);;所有文件 (*)");
inline const QString kSaveDefaultName = QStringLiteral("接收数据-%1.txt");
inline const QString kSaving = QStringLiteral("正在保存接收内容…");
inline const QString kSaveCancel = QStringLiteral("取消");
// The box's text, %1 the file; below it the reason, %1 the system's reason (systemReason).
inline const QString kSaveFailed = QStringLiteral("未能保存到 %1。");
inline const QString kSaveFailedReason = QStringLiteral("%1。");
inline const QString kSaveDataGone = QStringLiteral("要保存的最早一段数据已被新接收的数据覆盖。");
inline const QString kSaveEdited = QStringLiteral("保存过程中，接收区的内容发生了变化。");

// The receive area's tooltip and accessible description when no scratch file could be used and the
// capture is held in memory only: %1 the reason (below), %2 how many characters it keeps, %3 the memory
// that takes in MB.
inline const QString kCaptureInMemory = QStringLiteral(
    "接收的数据只能保存在内存中，因为%1。\n接收区最多保留约 %2 个字符（约 %3 MB 内存），超出后最早的数据会被丢弃。");
// %1 the folder, %2 the system's reason.
inline const QString kCaptureNoKey = QStringLiteral("系统没有可用的随机数来源，无法加密临时文件");
inline const QString kCaptureFolderFailed = QStringLiteral("无法使用缓存文件夹 %1：%2");
inline const QString kCaptureFolderIsLink = QStringLiteral("缓存文件夹 %1 是一个符号链接，不能信任");
inline const QString kCaptureFolderNotOwned = QStringLiteral("缓存文件夹 %1 属于其他用户");
inline const QString kCaptureFolderOpenToOthers = QStringLiteral("缓存文件夹 %1 允许其他用户访问");
inline const QString kCaptureInMemoryFileSystem = QStringLiteral("缓存文件夹 %1 位于内存文件系统（tmpfs）上");
inline const QString kCaptureFileFailed = QStringLiteral("无法在缓存文件夹 %1 中创建临时文件：%2");
inline const QString kCaptureTooLittleRoom = QStringLiteral("缓存文件夹 %1 所在磁盘的剩余空间比内存还少");
// Large counts the way they are read: 万 (10^4) and 亿 (10^8).
inline QString chineseCount(qint64 n)
{
    if (n >= 100000000)
        return QString::number(double(n) / 1e8, 'f', 1) + QStringLiteral(" 亿");
    if (n >= 10000)
        return QString::number(n / 10000) + QStringLiteral(" 万");
    return QString::number(n);
}

// The send area's context menu: the line end added to every text send, and sending a file.
inline const QString kMenuLineEndNone = QStringLiteral("行尾：无(&N)");
inline const QString kMenuLineEndCr = QStringLiteral("行尾：CR(&R)");
inline const QString kMenuLineEndLf = QStringLiteral("行尾：LF(&L)");
inline const QString kMenuLineEndCrLf = QStringLiteral("行尾：CR LF(&B)");
inline const QString kLineEndNoneTip = QStringLiteral("以字符格式发送时不加行尾。");
inline const QString kLineEndCrTip = QStringLiteral("以字符格式发送时在末尾加上回车（0D）。");
inline const QString kLineEndLfTip = QStringLiteral("以字符格式发送时在末尾加上换行（0A）。");
inline const QString kLineEndCrLfTip = QStringLiteral("以字符格式发送时在末尾加上回车换行（0D 0A）。");
inline const QString kMenuSendFile = QStringLiteral("发送文件(&F)…");
// The send area's tooltip (and what a screen reader gives as its description).
inline const QString kSendLineTip
    = QStringLiteral("右键菜单（或 Shift+F10）中可选择行尾、发送文件；按 ↑、↓ 键翻看发送过的内容。");
inline const QString kSendFileTip = QStringLiteral("把一个文件的内容原样发送到串口。");

// Sending a file; %1 the file's name, then bytes sent and the file's size.
inline const QString kSendFileTitle = QStringLiteral("发送文件");
inline const QString kSendingFile = QStringLiteral("正在发送 %1（%2 字节）…");
inline const QString kSendFileCancel = QStringLiteral("取消");
inline const QString kSendFileBusy = QStringLiteral("正在发送文件，请等文件发完或取消后再发送。");
// %2 the system's reason.
inline const QString kSendFileUnreadable = QStringLiteral("无法读取文件 %1：%2。\n没有发送任何数据。");
inline const QString kSendFileNotRegular = QStringLiteral("%1 不是普通文件，无法发送。\n没有发送任何数据。");
inline const QString kSendFileReadFailed = QStringLiteral("读取文件 %1 时出错：%2。\n已发送 %3 / %4 字节。");
inline const QString kSendFilePortClosed = QStringLiteral("串口已关闭，文件 %1 没有发完：\n已发送 %2 / %3 字节。");
// %1 the system's reason, %2 the file's name.
inline const QString kSendFileWriteFailed = QStringLiteral("串口不再接受数据：%1。\n文件 %2 已发送 %3 / %4 字节。");
inline const QString kSendFileCancelled = QStringLiteral("已取消发送文件 %1：\n已发送 %2 / %3 字节。");

// The port's context menu (on the open/close button and the lamp).
inline const QString kMenuFlowControl = QStringLiteral("流控(&F)");
inline const QString kMenuFlowNone = QStringLiteral("无(&N)");
inline const QString kMenuFlowRtsCts = QStringLiteral("RTS/CTS 硬件流控(&R)");
inline const QString kMenuFlowXonXoff = QStringLiteral("XON/XOFF 软件流控(&X)");
inline const QString kMenuDtr = QStringLiteral("DTR 有效(&D)");
inline const QString kMenuRts = QStringLiteral("RTS 有效(&T)");
inline const QString kMenuAutoReopen = QStringLiteral("拔出后自动重新打开(&A)");
inline const QString kLinesNeedOpenPort = QStringLiteral("打开串口后才能设置控制线。");
inline const QString kRtsByFlowControl = QStringLiteral("使用 RTS/CTS 流控时，RTS 由驱动控制。");
// %1 the system's reason.
inline const QString kFlowRefused = QStringLiteral("串口设备不接受这种流控：%1。仍使用原来的流控。");
inline const QString kLineRefused = QStringLiteral("串口设备不接受这个控制线设置：%1。");

// The lamp's tooltip and what a screen reader hears of it. %1 the port ("COM3"), %2 its device.
inline const QString kPortOpenTip = QStringLiteral("%1（%2）已打开。");
// %1 to %6: the state of DTR, RTS, CTS, DSR, DCD and RI.
inline const QString kLinesTip = QStringLiteral("输出：DTR %1，RTS %2\n输入：CTS %3，DSR %4，DCD %5，RI %6");
inline const QString kLineOn = QStringLiteral("有效");
inline const QString kLineOff = QStringLiteral("无效");
// %1 the system's reason.
inline const QString kNoLines = QStringLiteral("这个设备没有控制线（%1）。");
// %1 the device, %2 why it went away.
inline const QString kPortLostTip = QStringLiteral("%1 已断开：%2。");
inline const QString kHungUp = QStringLiteral("设备已被拔出或挂断");
inline const QString kWaitingForReturn = QStringLiteral("同一个设备重新接入后会自动打开。");
inline const QString kNoReturn = QStringLiteral("这个设备没有自己的标识（例如伪终端），不会自动重新打开。");
// Recording what arrives to a file (the receive area's context menu). The file is appended to, never emptied.
inline const QString kMenuRecordStart = QStringLiteral("开始记录(&R)…");
inline const QString kMenuRecordStop = QStringLiteral("停止记录(&R)");
inline const QString kRecordTitle = QStringLiteral("记录接收数据");
inline const QString kRecordAccept = QStringLiteral("开始记录");
// The dialog's two filters are the two formats, raw bytes first (the default).
inline const QString kRecordFilterRaw = QStringLiteral("原始字节，与收到的完全相同 (*)");
inline const QString kRecordFilterShown = QStringLiteral("接收区显示的文本，UTF-8 编码 (*)");
// %1 the date and time the dialog opened (20261207-193012).
inline const QString kRecordDefaultName = QStringLiteral("接收记录-%1.log");
// The receive area's tooltip and accessible description while it records; %1 the file.
inline const QString kRecordingRaw = QStringLiteral("正在把收到的原始字节追加记录到 %1");
inline const QString kRecordingShown = QStringLiteral("正在把接收区显示的文本（UTF-8）追加记录到 %1");
// The box's text, %1 the file; below it the reason (systemReason, or kRecordFellBehind) and kRecordKept.
inline const QString kRecordNotStarted = QStringLiteral("未能开始记录到 %1。");
inline const QString kRecordStopped = QStringLiteral("记录已停止，未能继续写入 %1。");
inline const QString kRecordFellBehind = QStringLiteral("磁盘写入跟不上接收，等待写入的数据超过了 32 MiB");
inline const QString kRecordReason = QStringLiteral("%1。");
inline const QString kRecordKept = QStringLiteral("%1。已写入的内容都保留在文件中，接收区照常接收。");
// In hex display the save dialog also offers a dump of 16 bytes a row with offsets and an ASCII column.
inline const QString kSaveFilterHexDump = QStringLiteral("十六进制转储，每行 16 字节 (*.txt)");

// Finding in the capture (Ctrl+F, the receive area's context menu).
inline const QString kMenuFind = QStringLiteral("查找(&F)…");
inline const QString kFindTitle = QStringLiteral("查找");
inline const QString kFindWhatLabel = QStringLiteral("查找内容(&W)：");
inline const QString kFindWhat = QStringLiteral("查找内容");
inline const QString kFindCase = QStringLiteral("区分大小写(&C)");
inline const QString kFindNext = QStringLiteral("查找下一个(&N)");
inline const QString kFindPrevious = QStringLiteral("查找上一个(&P)");
inline const QString kFindSearching = QStringLiteral("正在查找…");
// %1 the line of the match, counted from the oldest line the receive area holds.
inline const QString kFindFound = QStringLiteral("已找到，在第 %1 行，并已选中。");
inline const QString kFindWrappedToStart = QStringLiteral("已到末尾，已从开头继续查找：在第 %1 行找到，并已选中。");
inline const QString kFindWrappedToEnd = QStringLiteral("已到开头，已从末尾继续查找：在第 %1 行找到，并已选中。");
// What a screen reader calls the find box's status line and its progress bar.
inline const QString kFindStatusName = QStringLiteral("查找结果");
inline const QString kFindProgressName = QStringLiteral("查找进度");
inline const QString kFindCancel = QStringLiteral("取消查找");
inline const QString kFindCancelTip = QStringLiteral("停止查找（Esc）");
// %1 the system's reason (systemReason(ENOMEM)).
inline const QString kFindFailed = QStringLiteral("查找未能完成：%1。");
inline const QString kFindCancelled = QStringLiteral("已取消查找。");
// %1 what was sought.
inline const QString kFindNotFound = QStringLiteral("找不到“%1”。");
inline const QString kFindBadHex = QStringLiteral("十六进制显示下请输入用空格分隔的字节，例如 0D 0A。");

// Times of arrival (the receive area's context menu): a margin left of the text, off at every start.
inline const QString kMenuTimesShown = QStringLiteral("显示时间戳(&I)");
inline const QString kMenuStampFormat = QStringLiteral("时间戳格式(&M)");
inline const QString kMenuStampClock = QStringLiteral("时:分:秒.毫秒(&T)");
inline const QString kMenuStampDate = QStringLiteral("日期和时间(&D)");
inline const QString kMenuStampSincePrevious = QStringLiteral("距上一行的间隔（秒）(&P)");
inline const QString kTimeGutter = QStringLiteral("时间戳");
// In hex display, a run of bytes after a pause of at least the chosen length starts a row of its own.
inline const QString kMenuIdleGap = QStringLiteral("停顿后另起一行（十六进制）(&G)");
inline const QString kIdleGapName = QStringLiteral("十六进制显示时停顿后另起一行");
inline const QString kMenuIdleGapNone = QStringLiteral("不另起一行(&N)");
// %1 the pause in milliseconds, %2 (and %1 of the second's) the item's key.
inline const QString kMenuIdleGapMs = QStringLiteral("%1 毫秒(&%2)");
inline const QString kMenuIdleGapSecond = QStringLiteral("1 秒(&%1)");
// The save dialog's file type that begins each line with the date and time it began to arrive.
// The record dialog's third file type, and what the area says while it records so.
inline const QString kRecordFilterShownTimes = QStringLiteral("接收区显示的文本，每行前加上收到的日期和时间，UTF-8 编码 (*)");
inline const QString kRecordingShownTimes
    = QStringLiteral("正在把接收区显示的文本（UTF-8，每行前加上收到的日期和时间）追加记录到 %1");
inline const QString kSaveFilterTimes = QStringLiteral("文本文件，每行前加上收到的日期和时间 (*.txt)");

} // namespace Texts
