// The #if / #elif expressions of image source files, evaluated as a build for
// the unit's 16-bit display would: LV_COLOR_DEPTH 16, LV_COLOR_16_SWAP 0.
#include "payload/ConditionEvaluator.h"

#include <QtTest>

class TestConditionEvaluator : public QObject
{
    Q_OBJECT

private slots:
    void isTrue_data();
    void isTrue();
};

void TestConditionEvaluator::isTrue_data()
{
    QTest::addColumn<QByteArray>("expression");
    QTest::addColumn<bool>("value");

    // The four sections of LVGL 8's converters.
    QTest::newRow("8-bit section")
        << QByteArray("LV_COLOR_DEPTH == 1 || LV_COLOR_DEPTH == 8") << false;
    QTest::newRow("16-bit section")
        << QByteArray("LV_COLOR_DEPTH == 16 && LV_COLOR_16_SWAP == 0") << true;
    QTest::newRow("16-bit swapped section")
        << QByteArray("LV_COLOR_DEPTH == 16 && LV_COLOR_16_SWAP != 0") << false;
    QTest::newRow("32-bit section") << QByteArray("LV_COLOR_DEPTH == 32") << false;

    QTest::newRow("not") << QByteArray("!LV_COLOR_16_SWAP") << true;
    QTest::newRow("defined with parentheses") << QByteArray("defined(LV_COLOR_DEPTH)") << true;
    QTest::newRow("defined without parentheses") << QByteArray("defined LV_COLOR_16_SWAP") << true;
    QTest::newRow("not defined") << QByteArray("!defined(FOO)") << true;
    QTest::newRow("other name is 0") << QByteArray("UNKNOWN_NAME") << false;
    QTest::newRow("other name equals 0") << QByteArray("UNKNOWN_NAME == 0") << true;
    QTest::newRow("parentheses") << QByteArray(
        "(LV_COLOR_DEPTH == 8 || LV_COLOR_DEPTH == 16) && !(LV_COLOR_16_SWAP)")
                                 << true;
    QTest::newRow("and binds tighter than or") << QByteArray("1 || 0 && 0") << true;
    QTest::newRow("equality is left to right") << QByteArray("0 == 0 == 1") << true;
    QTest::newRow("hexadecimal") << QByteArray("0x10 == LV_COLOR_DEPTH") << true;
    QTest::newRow("octal") << QByteArray("020 == LV_COLOR_DEPTH") << true;
    QTest::newRow("suffix") << QByteArray("16UL == LV_COLOR_DEPTH") << true;
    QTest::newRow("relational") << QByteArray("LV_COLOR_DEPTH > 8 && LV_COLOR_DEPTH <= 16") << true;
    QTest::newRow("arithmetic") << QByteArray("LV_COLOR_DEPTH / 8 * 3 - 1 == 5") << true;
    QTest::newRow("conditional operator") << QByteArray("LV_COLOR_16_SWAP ? 0 : 2") << true;
    QTest::newRow("block comment") << QByteArray("1 /* && 0 */ && 2") << true;
    QTest::newRow("line comment") << QByteArray("1 // || 0") << true;
    QTest::newRow("escaped line end") << QByteArray("1 && \\\n 0") << false;
    QTest::newRow("function-like macro is 0") << QByteArray("__has_include(\"lvgl.h\")") << false;

    QTest::newRow("empty is false") << QByteArray("") << false;
    QTest::newRow("missing operand") << QByteArray("1 +") << false;
    QTest::newRow("unclosed parenthesis") << QByteArray("(1") << false;
    QTest::newRow("two values") << QByteArray("1 1") << false;
    QTest::newRow("division by zero") << QByteArray("1 / 0 || 1") << false;
    QTest::newRow("single equals") << QByteArray("LV_COLOR_DEPTH = 16") << false;
}

void TestConditionEvaluator::isTrue()
{
    QFETCH(QByteArray, expression);
    QFETCH(bool, value);
    QCOMPARE(ConditionEvaluator::isTrue(
                 expression.constData(), expression.constData() + expression.size()),
        value);
}

QTEST_GUILESS_MAIN(TestConditionEvaluator)
#include "tst_conditionevaluator.moc"
