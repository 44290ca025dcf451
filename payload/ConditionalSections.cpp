#include "payload/ConditionalSections.h"

#include "payload/ConditionEvaluator.h"

void ConditionalSections::open(bool condition)
{
    const bool outer = active();
    levels.append({ outer, outer && condition, outer && condition });
}

void ConditionalSections::directive(const char *begin, const char *end)
{
    const char *rest = begin;
    const QByteArray word = ConditionEvaluator::firstName(begin, end, &rest);
    if (word == "if") {
        open(ConditionEvaluator::isTrue(rest, end));
    } else if (word == "ifdef" || word == "ifndef") {
        const bool defined
            = ConditionEvaluator::isDefined(ConditionEvaluator::firstName(rest, end));
        open(word == "ifdef" ? defined : !defined);
    } else if (levels.isEmpty()) {
        return;
    } else if (word == "elif") {
        Level &level = levels.last();
        level.active = level.outerActive && !level.taken && ConditionEvaluator::isTrue(rest, end);
        level.taken = level.taken || level.active;
    } else if (word == "else") {
        Level &level = levels.last();
        level.active = level.outerActive && !level.taken;
        level.taken = true;
    } else if (word == "endif") {
        levels.removeLast();
    }
}
