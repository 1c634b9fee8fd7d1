#include "window/form1.h"

#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/receivearea.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"
#include "window/layout.h"
#include "window/optionbutton.h"
#include "window/shape.h"
#include "window/texts.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

const QColor Form1::kLampOpen = QColor(255, 0, 0);
const QColor Form1::kLampClosed = QColor(192, 255, 255);

namespace {

template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *label(const QString &caption, const char *name)
{
    auto *l = named(new QLabel(caption), name);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QPushButton *button(const QString &caption, const char *name)
{
    auto *b = named(new QPushButton(caption), name);
    // Enter and Esc must press nothing.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

ComboBox *combo(const QString &text, const char *name)
{
    auto *c = named(new ComboBox, name);
    c->setText(text);
    return c;
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

Form1::Form1(QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , Frame1(named(new QGroupBox(Texts::kFrame1), "Frame1"))
    , Frame2(named(new QGroupBox(Texts::kFrame2), "Frame2"))
    , Frame3(named(new QGroupBox(Texts::kFrame3), "Frame3"))
    , Frame4(named(new QGroupBox(Texts::kFrame4), "Frame4"))
    , Label1(label(Texts::kLabel1, "Label1"))
    , Label2(label(Texts::kLabel2, "Label2"))
    , Label3(label(Texts::kLabel3, "Label3"))
    , Label4(label(Texts::kLabel4, "Label4"))
    , Label5(label(Texts::kLabel5, "Label5"))
    , Label6(label(Texts::kLabel6, "Label6"))
    , Label7(label(Texts::kLabel7, "Label7"))
    , Label8(label(Texts::kLabel8, "Label8"))
    , Label9(label(Texts::kLabel9, "Label9"))
    , Label10(label(Texts::kZero, "Label10"))
    , Label11(label(Texts::kZero, "Label11"))
    , Command1(button(Texts::kCheckUpdate, "Command1"))
    , Command3(button(Texts::kClearReceive, "Command3"))
    , Command4(button(Texts::kClearSend, "Command4"))
    , Command5(button(Texts::kOpenPort, "Command5"))
    , Command6(button(Texts::kSendOnce, "Command6"))
    , Command7(button(Texts::kAutoSend, "Command7"))
    , Command8(button(Texts::kResetCounters, "Command8"))
    , Combo1(combo(Texts::kInitialPort, "Combo1"))
    , Combo2(combo(Texts::kInitialBaud, "Combo2"))
    , Combo3(combo(Texts::kParityNone, "Combo3"))
    , Combo4(combo(Texts::kInitialDataBits, "Combo4"))
    , Combo5(combo(Texts::kInitialStopBits, "Combo5"))
    , Text1(named(new ReceiveArea, "Text1"))
    , Text2(named(new QLineEdit, "Text2"))
    , Text3(named(new QLineEdit(Texts::kInitialPeriod), "Text3"))
    , Option1(named(new OptionButton(Texts::kOptionHexDisplay), "Option1"))
    , Option2(named(new OptionButton(Texts::kOptionTextDisplay), "Option2"))
    , Option3(named(new OptionButton(Texts::kOptionTextSend), "Option3"))
    , Option5(named(new OptionButton(Texts::kOptionHexSend), "Option5"))
    , Shape1(named(new Shape, "Shape1"))
    , Timer1(named(new IntervalTimer(kSettingsTickMs, true, this), "Timer1"))
    , Timer2(named(new IntervalTimer(0, true, this), "Timer2"))
    , MSComm1(named(new MSComm(this), "MSComm1"))
{
    setWindowTitle(Texts::kWindowTitle);
    setWindowIcon(QIcon(QStringLiteral(":/zelcom.png")));
    QFont font;
    font.setFamilies({ QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Sans Serif") });
    font.setPointSize(9);
    setFont(font);

    placeControls();
    setTabOrder();
    setAccessibility();
    Combo1->setToolTipProvider([this] { return portsToolTip(); });
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
    return findChild<QWidget *>(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

void Form1::placeControls()
{
    // Frames are created first so the controls inside them can find their container by name.
    QWidget *const all[] = { Frame1, Frame2, Frame3, Frame4, Label1, Label2, Label3, Label4, Label5, Label6, Label7,
        Label8, Label9, Label10, Label11, Command1, Command3, Command4, Command5, Command6, Command7, Command8, Combo1,
        Combo2, Combo3, Combo4, Combo5, Text1, Text2, Text3, Option1, Option2, Option3, Option5, Shape1 };
    for (QWidget *w : all)
        w->setParent(this);
    for (const ControlPlace &place : kLayout) {
        QWidget *w = control(place.name);
        QWidget *container = place.container.empty() ? this : control(place.container);
        w->setParent(container);
        w->setGeometry(twipsToPixels(place.left, place.top, place.width, place.height));
    }
    setFixedSize(kClientWidthTwips / kTwipsPerPixel, kClientHeightTwips / kTwipsPerPixel);
}

void Form1::setTabOrder()
{
    QWidget *previous = nullptr;
    for (std::string_view name : kTabOrder) {
        QWidget *w = control(name);
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
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
