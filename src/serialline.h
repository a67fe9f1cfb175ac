#ifndef SERIALLINE_H
#define SERIALLINE_H

#include <QStringList>

// A serial line's rate and mode as they travel between the browser, the settings store and
// the engine: indexes into two fixed lists.
namespace SerialLine {

enum BaudIndex
{
    Baud1200,
    Baud2400,
    Baud4800,
    Baud9600,
    Baud14400,
    Baud19200,
    Baud28800,
    Baud38400,
    Baud57600,
    Baud115200,
    Baud230400,
    Baud256000,
    Baud1000000
};
constexpr int baudCount = Baud1000000 + 1;
constexpr int baudRates[baudCount] = {1200,  2400,  4800,   9600,   14400,  19200,  28800,
                                      38400, 57600, 115200, 230400, 256000, 1000000};

constexpr int dataBits = 8;

enum Mode
{
    Rtu8N2,
    Rtu8E1,
    Rtu8O1,
    Rtu8N1
};
constexpr int modeCount = Rtu8N1 + 1;

struct Framing
{
    char parity;
    int stopBits;
};

// The rate of an index, or -1 outside the list.
int baudRate(int index);
// The index of a rate, or -1 when the list has no such rate.
int baudIndexOfRate(int rate);
QStringList baudRateTexts();
QStringList modeTexts();
// Any index that is not one of the first three modes is 8N1.
Framing framingOf(int mode);

} // namespace SerialLine

#endif // SERIALLINE_H
