#pragma once
// Follows the #if / #ifdef / #ifndef / #elif / #else / #endif lines met inside
// an image's byte array and tells whether the text between them is compiled
// in (the colour-depth sections that LVGL 8's converters write).
#include <QVarLengthArray>

class ConditionalSections
{
public:
    // Takes one directive line: the text after its "#" up to the line end.
    // Directives other than the conditional ones change nothing; an #elif,
    // #else or #endif without an open #if is ignored.
    void directive(const char *begin, const char *end);

    // Whether the text at this point is compiled in.
    bool active() const
    {
        return levels.isEmpty() || levels.last().active;
    }

private:
    struct Level {
        bool outerActive; // the enclosing text is compiled in
        bool taken; // a branch of this #if has already been compiled in
        bool active; // the current branch is compiled in
    };
    void open(bool condition);

    QVarLengthArray<Level, 8> levels;
};
