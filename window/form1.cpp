// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/form1.h"

#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/receiveview/receivearea.h"
#include "window/combobox.h"
#include "window/counterlabel.h"
#include "window/intervaltimer.h"
#include "window/layout.h"
#include "window/optionbutton.h"
#include "window/portmenu.h"
#include "window/sendline.h"
#include "window/shape.h"
#include "window/texts.h"
#include "window/windowfont.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <array>
#include <type_traits>

const QColor Form1::kLampOpen = QColor(255, 0, 0);
const QColor Form1::kLampClosed = QColor(192, 255, 255);

namespace {

// Qt's own words (a text box's context menu, a message box's button) in the window's language rather
// than the desktop's: the window is Chinese whatever the locale says. Once per program.
void installQtChinese()
{
    static bool tried = false;
    if (tried || QCoreApplication::instance() == nullptr)
        return;
    tried = true;
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
        return;
    }
    qWarning("Qt's Chinese translation (qtbase_zh_CN.qm) is missing: Qt's own menus stay in English");
    delete translator;
}

template <typename T> T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// A counter is read out as what it counts followed by its number. A plain accessible name would hide
// the number, which is the point of the label; so the name is made when it is asked for.
constexpr const char *kCounterNameProperty = "zelcomCounterName";

class CounterAccessible : public QAccessibleWidget
{
public:
    explicit CounterAccessible(QLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const auto *counter = static_cast<const QLabel *>(widget());
        return counter->property(kCounterNameProperty).toString() + u' ' + counter->text();
    }
};

QAccessibleInterface *counterAccessible(const QString &, QObject *object)
{
    auto *counter = qobject_cast<QLabel *>(object);
    if (counter && counter->property(kCounterNameProperty).isValid())
        return new CounterAccessible(counter);
    return nullptr;
}

} // namespace

template <typename T, typename... Args> T *Form1::create(const char *name, const Args &...args)
{
    // The frames come first among the members, so a control's frame exists when the control is made.
    auto *widget = named(new T(args..., containerOf(name)), name);
    if constexpr (std::is_base_of_v<QLabel, T>)
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if constexpr (std::is_same_v<T, QPushButton>) {
        // Enter and Esc must press nothing.
        widget->setAutoDefault(false);
        widget->setDefault(false);
    }
    return widget;
}

Form1::Form1(QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , Frame1(create<QGroupBox>("Frame1", Texts::kFrame1))
    , Frame2(create<QGroupBox>("Frame2", Texts::kFrame2))
    , Frame3(create<QGroupBox>("Frame3", Texts::kFrame3))
    , Frame4(create<QGroupBox>("Frame4", Texts::kFrame4))
    , Label1(create<QLabel>("Label1", Texts::kLabel1))
    , Label2(create<QLabel>("Label2", Texts::kLabel2))
    , Label3(create<QLabel>("Label3", Texts::kLabel3))
    , Label4(create<QLabel>("Label4", Texts::kLabel4))
    , Label5(create<QLabel>("Label5", Texts::kLabel5))
    , Label6(create<QLabel>("Label6", Texts::kLabel6))
    , Label7(create<QLabel>("Label7", Texts::kLabel7))
    , Label8(create<QLabel>("Label8", Texts::kLabel8))
    , Label9(create<QLabel>("Label9", Texts::kLabel9))
    , Label10(create<CounterLabel>("Label10", Texts::kZero))
    , Label11(create<CounterLabel>("Label11", Texts::kZero))
    , Command1(create<QPushButton>("Command1", Texts::kCheckUpdate))
    , Command3(create<QPushButton>("Command3", Texts::kClearReceive))
    , Command4(create<QPushButton>("Command4", Texts::kClearSend))
    , Command5(create<QPushButton>("Command5", Texts::kOpenPort))
    , Command6(create<QPushButton>("Command6", Texts::kSendOnce))
    , Command7(create<QPushButton>("Command7", Texts::kAutoSend))
    , Command8(create<QPushButton>("Command8", Texts::kResetCounters))
    , Combo1(create<ComboBox>("Combo1", Texts::kInitialPort))
    , Combo2(create<ComboBox>("Combo2", Texts::kInitialBaud))
    , Combo3(create<ComboBox>("Combo3", Texts::kParityNone))
    , Combo4(create<ComboBox>("Combo4", Texts::kInitialDataBits))
    , Combo5(create<ComboBox>("Combo5", Texts::kInitialStopBits))
    , Text1(create<ReceiveArea>("Text1"))
    , Text2(create<SendLine>("Text2"))
    , Text3(create<QLineEdit>("Text3", Texts::kInitialPeriod))
    , Option1(create<OptionButton>("Option1", Texts::kOptionHexDisplay))
    , Option2(create<OptionButton>("Option2", Texts::kOptionTextDisplay))
    , Option3(create<OptionButton>("Option3", Texts::kOptionTextSend))
    , Option5(create<OptionButton>("Option5", Texts::kOptionHexSend))
    , Shape1(create<Shape>("Shape1"))
    , Timer1(named(new IntervalTimer(kSettingsTickMs, true, this), "Timer1"))
    , Timer2(named(new IntervalTimer(0, true, this), "Timer2"))
    , MSComm1(named(new MSComm(this), "MSComm1"))
{
    setWindowTitle(Texts::kWindowTitle);
    // The icon is compiled into this static library; without a reference from here the linker would drop it.
    Q_INIT_RESOURCE(resources);
    setWindowIcon(QIcon(QStringLiteral(":/zelcom.png")));
    setFont(windowFont());
    installQtChinese();

    placeControls();
    setTabOrder();
    setAccessibility();
    Combo1->setToolTipProvider([this] { return portsToolTip(); });
    PortMenu1 = new PortMenu(this);
    PortMenu1->attachTo(Command5);
    PortMenu1->attachTo(Shape1);
}

Form1::~Form1() = default;

void Form1::showPortOpen()
{
    Command5->setText(Texts::kClosePort);
    Shape1->setFillColor(kLampOpen);
}

void Form1::showPortClosed()
{
    Command5->setText(Texts::kOpenPort);
    Shape1->setFillColor(kLampClosed);
}

QWidget *Form1::control(std::string_view name) const
{
    auto *w = findChild<QWidget *>(QLatin1String(name.data(), static_cast<qsizetype>(name.size())));
    // The tables name the controls by hand; a name no control carries is a typo in this file. A debug build stops
    // here, a release build leaves that entry out and says so.
    Q_ASSERT_X(w, "Form1::control", "a name in the layout or tab order that no control carries");
    if (!w)
        qCritical("Form1: no control named %.*s", static_cast<int>(name.size()), name.data());
    return w;
}

QWidget *Form1::containerOf(std::string_view name)
{
    const auto place = std::ranges::find(kLayout, name, &ControlPlace::name);
    Q_ASSERT_X(place != kLayout.end(), "Form1::containerOf", "a control missing from the layout table");
    if (place == kLayout.end() || place->container.empty())
        return this;
    QWidget *frame = control(place->container);
    return frame ? frame : this;
}

void Form1::placeControls()
{
    for (const ControlPlace &place : kLayout)
        if (QWidget *w = control(place.name))
            w->setGeometry(twipsToPixels(place.left, place.top, place.width, place.height));
    setFixedSize(kClientWidthTwips / kTwipsPerPixel, kClientHeightTwips / kTwipsPerPixel);
}

void Form1::setTabOrder()
{
    QWidget *previous = nullptr;
    for (std::string_view name : kTabOrder) {
        QWidget *w = control(name);
        if (!w || w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void Form1::showEvent(QShowEvent *event)
{
    // The keyboard starts at the first stop of the tab order. Qt would start at the control that follows the window
    // in its focus chain: setTabOrder links the stops but leaves the window where creation put it, in front of
    // the first control created that takes Tab.
    if (!focusWidget()) {
        for (std::string_view name : kTabOrder) {
            QWidget *w = control(name);
            if (w && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled()) {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    QWidget::showEvent(event);
}

void Form1::setAccessibility()
{
    // A screen reader names each box after the label in front of it.
    Label3->setBuddy(Combo1);
    Label4->setBuddy(Combo2);
    Label5->setBuddy(Combo3);
    Label6->setBuddy(Combo4);
    Label7->setBuddy(Combo5);

    // The lamp says in words what its colour shows.
    Shape1->setAccessibleName(Texts::kLampClosedName);
    connect(Shape1, &Shape::fillColorChanged, this, [this](const QColor &fill) {
        Shape1->setAccessibleName(fill == kLampOpen ? Texts::kLampOpenName : Texts::kLampClosedName);
    });

    static const bool factoryInstalled = [] {
        QAccessible::installFactory(counterAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    Label10->setProperty(kCounterNameProperty, Texts::kReceivedCountName);
    Label11->setProperty(kCounterNameProperty, Texts::kSentCountName);
    // Setting a label's text can already have made it a plain interface, which would stay cached.
    for (QLabel *counter : { Label10, Label11 })
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(counter)));

    // A label tells a screen reader of every new caption unless it has a name of its own, and a counter can change
    // sixty times a second in a flood or a thousand under auto-send: far more than can be spoken. So each counter
    // has a name (what is read out is still made from the caption), and a change is told at most twice a second.
    for (QLabel *counter : { Label10, Label11 })
        counter->setAccessibleName(counter->property(kCounterNameProperty).toString());
    auto *announce = new QTimer(this);
    announce->setInterval(500);
    connect(announce, &QTimer::timeout, this, [this, told = std::array<QString, 2>()]() mutable {
        const std::array<QLabel *, 2> counters { Label10, Label11 };
        for (std::size_t i = 0; i < counters.size(); ++i) {
            if (counters[i]->text() == told[i])
                continue;
            told[i] = counters[i]->text();
            if (QAccessible::isActive()) {
                QAccessibleEvent changed(counters[i], QAccessible::NameChanged);
                QAccessible::updateAccessibility(&changed);
            }
        }
    });
    announce->start();

    // Tab stops once per option group, at its selected button; the arrow keys move within the group.
    const auto oneTabStop = [](OptionButton *a, OptionButton *b) {
        const auto update = [a, b] {
            const bool either = a->isChecked() || b->isChecked();
            a->setFocusPolicy(a->isChecked() || !either ? Qt::StrongFocus : Qt::ClickFocus);
            b->setFocusPolicy(b->isChecked() || !either ? Qt::StrongFocus : Qt::ClickFocus);
        };
        connect(a, &QAbstractButton::toggled, a, update);
        connect(b, &QAbstractButton::toggled, b, update);
        update();
    };
    oneTabStop(Option1, Option2);
    oneTabStop(Option3, Option5);
}

QString Form1::portsToolTip() const
{
    const QStringList devices = PortMap::devices();
    if (devices.isEmpty())
        return Texts::kPortTipNone;
    QStringList lines;
    for (qsizetype i = 0; i < devices.size() && i < PortMap::kListedPorts; ++i)
        lines << Texts::kPortTipLine.arg(i + 1).arg(devices[i]);
    return lines.join(u'\n');
}
