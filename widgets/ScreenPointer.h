#pragma once

#include <QList>

// The screen's mouse pointer as the program sets it: 11 hourglass, 1 arrow, 0 default.
class ScreenPointer
{
public:
    enum Shape { Default = 0, Arrow = 1, Hourglass = 11 };

    static void set(Shape shape);
    static Shape current();
    // Every shape set, in order (tests read it).
    static const QList<Shape>& history();
    static void clearHistory();
};
