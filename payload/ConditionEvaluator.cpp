#include "payload/ConditionEvaluator.h"

#include <cstring>

namespace {

bool isNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9');
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// Skips white space, comments and escaped line ends from p; returns the new position.
const char *skipBlankFrom(const char *p, const char *end)
{
    while (p < end) {
        const char c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'
            || c == '\\') {
            ++p;
        } else if (c == '/' && p + 1 < end && p[1] == '*') {
            p += 2;
            while (p < end && !(*p == '*' && p + 1 < end && p[1] == '/'))
                ++p;
            p = p < end ? p + 2 : end;
        } else if (c == '/' && p + 1 < end && p[1] == '/') {
            while (p < end && *p != '\n')
                ++p;
        } else {
            break;
        }
    }
    return p;
}

} // namespace

bool ConditionEvaluator::isTrue(const char *begin, const char *end)
{
    ConditionEvaluator e(begin, end);
    const qint64 value = e.conditional();
    e.skipBlank();
    return !e.failed && e.p == e.end && value != 0;
}

QByteArray ConditionEvaluator::firstName(const char *begin, const char *end, const char **after)
{
    ConditionEvaluator e(begin, end);
    e.skipBlank();
    const QByteArray word = e.atName() ? e.name() : QByteArray();
    if (after)
        *after = e.p;
    return word;
}

bool ConditionEvaluator::isDefined(const QByteArray &name)
{
    return name == "LV_COLOR_DEPTH" || name == "LV_COLOR_16_SWAP";
}

qint64 ConditionEvaluator::valueOf(const QByteArray &name)
{
    return name == "LV_COLOR_DEPTH" ? 16 : 0;
}

void ConditionEvaluator::skipBlank()
{
    p = skipBlankFrom(p, end);
}

bool ConditionEvaluator::accept(const char *op)
{
    skipBlank();
    const auto length = static_cast<std::ptrdiff_t>(std::strlen(op));
    if (end - p < length || std::memcmp(p, op, static_cast<size_t>(length)) != 0)
        return false;
    p += length;
    return true;
}

bool ConditionEvaluator::atName() const
{
    return p < end && isNameStart(*p);
}

QByteArray ConditionEvaluator::name()
{
    const char *start = p;
    while (p < end && isNameChar(*p))
        ++p;
    return QByteArray(start, static_cast<int>(p - start));
}

qint64 ConditionEvaluator::conditional()
{
    const qint64 condition = logicalOr();
    if (!accept("?"))
        return condition;
    const qint64 whenTrue = conditional();
    if (!accept(":"))
        failed = true;
    const qint64 whenFalse = conditional();
    return condition ? whenTrue : whenFalse;
}

qint64 ConditionEvaluator::logicalOr()
{
    qint64 value = logicalAnd();
    while (accept("||")) {
        const qint64 right = logicalAnd();
        value = (value != 0 || right != 0) ? 1 : 0;
    }
    return value;
}

qint64 ConditionEvaluator::logicalAnd()
{
    qint64 value = equality();
    while (accept("&&")) {
        const qint64 right = equality();
        value = (value != 0 && right != 0) ? 1 : 0;
    }
    return value;
}

qint64 ConditionEvaluator::equality()
{
    qint64 value = relational();
    for (;;) {
        if (accept("=="))
            value = value == relational() ? 1 : 0;
        else if (accept("!="))
            value = value != relational() ? 1 : 0;
        else
            return value;
    }
}

qint64 ConditionEvaluator::relational()
{
    qint64 value = additive();
    for (;;) {
        if (accept("<="))
            value = value <= additive() ? 1 : 0;
        else if (accept(">="))
            value = value >= additive() ? 1 : 0;
        else if (accept("<"))
            value = value < additive() ? 1 : 0;
        else if (accept(">"))
            value = value > additive() ? 1 : 0;
        else
            return value;
    }
}

// Arithmetic wraps around, as the C preprocessor's does in practice: a file's
// numbers are its own, and an overflow must not be undefined here.
static qint64 wrapped(quint64 value)
{
    return static_cast<qint64>(value);
}

qint64 ConditionEvaluator::additive()
{
    qint64 value = multiplicative();
    for (;;) {
        if (accept("+"))
            value = wrapped(static_cast<quint64>(value) + static_cast<quint64>(multiplicative()));
        else if (accept("-"))
            value = wrapped(static_cast<quint64>(value) - static_cast<quint64>(multiplicative()));
        else
            return value;
    }
}

qint64 ConditionEvaluator::multiplicative()
{
    qint64 value = unary();
    for (;;) {
        const bool times = accept("*");
        const bool divide = !times && accept("/");
        const bool modulo = !times && !divide && accept("%");
        if (!times && !divide && !modulo)
            return value;
        const qint64 right = unary();
        if (times) {
            value = wrapped(static_cast<quint64>(value) * static_cast<quint64>(right));
        } else if (right == 0) {
            failed = true;
            value = 0;
        } else if (right == -1) { // the smallest number divided by -1 would overflow
            value = divide ? wrapped(0 - static_cast<quint64>(value)) : 0;
        } else {
            value = divide ? value / right : value % right;
        }
    }
}

qint64 ConditionEvaluator::unary()
{
    if (accept("!"))
        return unary() == 0 ? 1 : 0;
    if (accept("-"))
        return wrapped(0 - static_cast<quint64>(unary()));
    if (accept("+"))
        return unary();
    if (accept("~"))
        return ~unary();
    return primary();
}

qint64 ConditionEvaluator::primary()
{
    if (accept("(")) {
        const qint64 value = conditional();
        if (!accept(")"))
            failed = true;
        return value;
    }
    skipBlank();
    if (atName()) {
        const QByteArray word = name();
        if (word == "defined") {
            const bool parenthesised = accept("(");
            skipBlank();
            if (!atName()) {
                failed = true;
                return 0;
            }
            const bool defined = isDefined(name());
            if (parenthesised && !accept(")"))
                failed = true;
            return defined ? 1 : 0;
        }
        // A function-like macro (such as __has_include(...)) is unknown: 0.
        skipBlank();
        if (p < end && *p == '(') {
            int depth = 0;
            do {
                if (*p == '(')
                    ++depth;
                else if (*p == ')')
                    --depth;
                ++p;
            } while (p < end && depth > 0);
            if (depth > 0)
                failed = true;
            return 0;
        }
        return valueOf(word);
    }
    if (p < end && *p >= '0' && *p <= '9') {
        int base = 10;
        if (*p == '0' && p + 1 < end && (p[1] == 'x' || p[1] == 'X')) {
            base = 16;
            p += 2;
        } else if (*p == '0') {
            base = 8;
        }
        quint64 value = 0;
        while (p < end && digitValue(*p) < base)
            value = value * static_cast<quint64>(base) + static_cast<quint64>(digitValue(*p++));
        while (p < end && (*p == 'u' || *p == 'U' || *p == 'l' || *p == 'L'))
            ++p;
        if (p < end && isNameChar(*p))
            failed = true;
        return static_cast<qint64>(value);
    }
    failed = true;
    return 0;
}
