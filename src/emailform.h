#ifndef EMAILFORM_H
#define EMAILFORM_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The support form as the page sends it: seven values read by position from a flat
// JSON-like text, and the plain-text mail made from them.
// Threads: one form per request, on its connection thread.
class EmailForm
{
public:
    static constexpr int fieldCount = 7;

    // value: the form text, percent-encoded once more by the page.
    explicit EmailForm(const QByteArray &value);

    bool fitsLimits() const;
    // The mail as the tool sends it, every line ended by CR LF.
    QByteArray message(const QString &version) const;

private:
    // One of the six short fields, without control characters.
    QString field(int index) const;
    QString messageText() const;

    QStringList m_fields;
};

#endif // EMAILFORM_H
