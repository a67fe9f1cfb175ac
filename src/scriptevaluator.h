#ifndef SCRIPTEVALUATOR_H
#define SCRIPTEVALUATOR_H

#include <QString>
#include <QVector>

// Evaluates an array expression that came from the browser or the network, fenced in:
// a text that is too long or nested too deep is refused before the engine sees it, and
// evaluation plus element conversion is interrupted after a time limit. Only number,
// string and boolean elements are converted.
// Threads: any thread, several at once: each evaluation has an engine of its own.
class ScriptEvaluator
{
public:
    struct Element
    {
        enum Kind
        {
            Number,
            String,
            Boolean,
            Other
        };
        Kind kind = Other;
        double number = 0; // the script's own number conversion; NaN for Other
        QString text;      // the script's own text conversion; empty for Other
    };
    struct Result
    {
        bool valid = false; // evaluated without error or interruption
        bool isArray = false;
        qint64 length = 0;         // the array's length, fraction cut off
        QVector<Element> elements; // at most maxElements, in index order
    };

    static constexpr int defaultTimeLimitMs = 1000;
    static constexpr int maxTextLength = 1024 * 1024;
    static constexpr int maxNesting = 64;
    static constexpr int maxElements = 100000;

    // Evaluates text; converts up to min(length, elementLimit) elements when the result is an array.
    static Result evaluateArray(const QString &text, int elementLimit = maxElements,
                                int timeLimitMs = defaultTimeLimitMs);
    static bool isAcceptable(const QString &text);
};

#endif // SCRIPTEVALUATOR_H
