#pragma once
// Evaluates the controlling expression of an #if / #elif line in an image
// source file, the way a compiler building it for the unit's display would:
// LV_COLOR_DEPTH is 16, LV_COLOR_16_SWAP is 0 (both defined), every other name
// is 0 and not defined.
#include <QByteArray>
#include <QtGlobal>

class ConditionEvaluator
{
public:
    // The expression's truth. It is the text in [begin, end): integers, names,
    // defined(NAME) / defined NAME, parentheses, the unary ! - + ~ and the
    // binary * / % + - < <= > >= == != && ||. Comments and escaped line ends
    // count as white space. A malformed expression is false.
    static bool isTrue(const char *begin, const char *end);

    // The first name in [begin, end), skipping white space and comments (the
    // argument of #ifdef / #ifndef); empty when there is none. When after is
    // given it is set to the position just past the name.
    static QByteArray firstName(const char *begin, const char *end, const char **after = nullptr);

    // Whether a name is defined, and the value it stands for.
    static bool isDefined(const QByteArray &name);
    static qint64 valueOf(const QByteArray &name);

private:
    ConditionEvaluator(const char *begin, const char *end)
        : p(begin)
        , end(end)
    {
    }

    void skipBlank();
    bool accept(const char *op);
    bool atName() const;
    QByteArray name();
    qint64 conditional();
    qint64 logicalOr();
    qint64 logicalAnd();
    qint64 equality();
    qint64 relational();
    qint64 additive();
    qint64 multiplicative();
    qint64 unary();
    qint64 primary();

    const char *p;
    const char *end;
    bool failed = false;
};
