// Receiving, showing and sending data.

#include <QTest>

class TestTerminal : public QObject {
    Q_OBJECT
};

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
