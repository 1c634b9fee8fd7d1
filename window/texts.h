// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every text the user sees, exactly as shown (blanks included).

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

// The port error box.
inline const QString kPortErrorTitle = QStringLiteral("zel串口调试助手");
inline const QString kPortUnavailable = QStringLiteral("端口号不可用");
inline const QString kReasonNoDevice = QStringLiteral("COM%1 没有对应的串口设备。");
inline const QString kReasonPermission = QStringLiteral(
    "没有权限打开 %1：请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），重新登录后再试。");
inline const QString kReasonBusy = QStringLiteral("%1 正被其他程序占用，请先关闭那个程序。");
inline const QString kReasonOther = QStringLiteral("%1 无法打开%2。");
// %1 the device, %2 the settings ("9600,N,7,1"), %3 the error number (or nothing).
inline const QString kReasonSettings = QStringLiteral("%1 不接受这组设置：%2%3。");

// The number the system gave for a failure, at the end of a sentence.
inline const QString kSystemError = QStringLiteral("（系统错误 %1）");
inline const QString kPortError = QStringLiteral("（串口错误 %1）");

// The system's error number where it gave one, else the serial port's, else nothing.
inline QString errorNumber(int systemError, int portError)
{
    if (systemError != 0)
        return kSystemError.arg(systemError);
    return portError != 0 ? kPortError.arg(portError) : QString();
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
    case ENOTTY:
        return QStringLiteral("不是串口设备");
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
    default:
        return QStringLiteral("系统错误 %1").arg(error);
    }
}

// The send command and auto-send.
inline const QString kOpenThePortFirst = QStringLiteral("请打开串口");
inline const QString kBadHexBytes = QStringLiteral("请输入00到FF之间的十六进制数，用空格分隔，例如：AA 55 01 0D");
inline const QString kPasteTooLong
    = QStringLiteral("粘贴的内容太长（%1 个字符），没有粘贴：发送区最多容纳 %2 个字符。");
inline const QString kOutputBusy = QStringLiteral("上次发送的数据还没有发完，这次没有发送，请稍后再试。");
inline const QString kSendFailed = QStringLiteral("串口不接受数据，这次没有发送。");
inline const QString kBadPeriod = QStringLiteral("发送周期无效：请输入0到2147483647之间的整数（毫秒）");

// The settings boxes, shown in the box's tooltip while its text cannot be used.
inline const QString kBadBaud = QStringLiteral("波特率无效：请输入一个正整数");
inline const QString kBadParity = QStringLiteral("校验位无效：请从列表中选择");
inline const QString kBadDataBits = QStringLiteral("数据位无效：只能是5、6、7或8");
inline const QString kBadStopBits = QStringLiteral("停止位无效：只能是1或2");
// %1 the error number (or nothing), %2 the settings the port keeps ("9600,N,8,1").
inline const QString kSettingsRefused = QStringLiteral("串口设备不接受这组设置%1，仍在使用 %2");
// A usable box whose setting waits for another box to be mended; %1 the settings the port keeps.
inline const QString kSettingsWaiting = QStringLiteral("其他设置无效，这个设置尚未生效，仍在使用 %1");

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

// Copying a selection larger than the clipboard can sensibly hold; %1 the selection's characters,
// %2 the most that is copied.
inline const QString kCopyTooLarge = QStringLiteral("选中的内容有 %1 个字符，超过了剪贴板能容纳的 %2 个字符，"
                                                    "没有复制。\n请用右键菜单中的“保存选中内容…”把它保存到文件。");

// Saving the receive area to a file.
inline const QString kSaveTitle = QStringLiteral("保存接收内容");
inline const QString kSaveFilter = QStringLiteral("文本文件 (*.txt);;所有文件 (*)");
inline const QString kSaveDefaultName = QStringLiteral("接收数据.txt");
inline const QString kSaving = QStringLiteral("正在保存接收内容…");
inline const QString kSaveCancel = QStringLiteral("取消");
// %1 the file, %2 the system's reason.
inline const QString kSaveFailed = QStringLiteral("无法保存到 %1：%2\n没有留下不完整的文件。");
inline const QString kSaveDataGone
    = QStringLiteral("保存失败：要保存的最早的数据已被新收到的数据挤出。\n没有留下不完整的文件。");
inline const QString kSaveEdited = QStringLiteral("保存失败：保存期间接收区的内容被修改了。\n没有留下不完整的文件。");
inline const QString kSaveCancelled = QStringLiteral("已取消保存，没有留下文件。");

// The open button's reasons: what the system said, before its number ("：不是串口设备（系统错误 25）").
inline const QString kReasonWhy = QStringLiteral("：%1");

} // namespace Texts
