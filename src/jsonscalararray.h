#ifndef JSONSCALARARRAY_H
#define JSONSCALARARRAY_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Reads a flat JSON array of numbers, strings, true and false, as a page or a script sends
// values to write. Each number keeps the text it was written with, so that no 64-bit
// integer or float is rounded through a double on the way in.
class JsonScalarArray
{
public:
    struct Element
    {
        enum class Kind
        {
            Number,
            String,
            Boolean
        };
        Kind kind = Kind::Number;
        QByteArray number; // Number: the text as written
        QString string;    // String: the text, escapes resolved
        bool boolean = false;
    };

    // False for anything else than such an array: null, nested arrays or objects, bad
    // escapes, raw control characters in strings, text after the closing bracket.
    static bool parse(const QByteArray &json, QVector<Element> *elements);
    // Whether text is one JSON number and nothing else.
    static bool isNumber(const QByteArray &text);
};

#endif // JSONSCALARARRAY_H
