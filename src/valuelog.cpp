#include "valuelog.h"

#include "jsonscalararray.h"
#include "pollresult.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace {
// A field that holds a separator, a quote or a line break goes in quotes, its quotes doubled.
QByteArray csvField(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    return '"' + field.replace('"', "\"\"") + '"';
}

// The values of a JSON values array as texts: numbers as written, strings unquoted.
QStringList valueTexts(const QByteArray &values)
{
    QVector<JsonScalarArray::Element> elements;
    QStringList texts;
    if (!JsonScalarArray::parse(values, &elements))
        return texts;
    for (const JsonScalarArray::Element &element : elements) {
        texts << (element.kind == JsonScalarArray::Element::Kind::String
                      ? element.string
                      : QString::fromLatin1(element.number));
    }
    return texts;
}
} // namespace

ValueLog::ValueLog(const QString &path, qint64 maxBytes)
    : m_path(path)
    , m_maxBytes(qMax(maxBytes, minMaxBytes))
{}

QString ValueLog::olderPath() const
{
    const QFileInfo info(m_path);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".1.") + info.suffix();
}

QByteArray ValueLog::lines(const PollResult &result)
{
    const QByteArray head = csvField(result.timeText()) + ',' + csvField(result.name) + ',' +
                            QByteArray::number(result.slave) + ',' + csvField(result.table) + ',';
    if (!result.error.isEmpty())
        return head + QByteArray::number(result.addr) + ',' + csvField(result.error) + '\n';
    const QStringList texts = valueTexts(result.values);
    // Every value takes the same number of registers (bits: one each).
    const int step = texts.isEmpty() ? 1 : qMax(1, result.regs.size() / texts.size());
    QByteArray lines;
    for (int i = 0; i < texts.size(); ++i)
        lines += head + QByteArray::number(result.addr + i * step) + ',' + csvField(texts[i]) + '\n';
    return lines;
}

void ValueLog::append(const PollResult &result)
{
    const QByteArray text = lines(result);
    QMutexLocker locker(&m_mutex);
    QFileInfo info(m_path);
    if (info.exists() && info.size() + text.size() > m_maxBytes) {
        QFile::remove(olderPath());
        QFile::rename(m_path, olderPath());
    }
    QDir().mkpath(info.absolutePath());
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(text) != text.size())
        qWarning() << "Value log not written:" << m_path << file.errorString();
}

qint64 ValueLog::bytes() const
{
    QMutexLocker locker(&m_mutex);
    return QFileInfo(m_path).size();
}

QByteArray ValueLog::contents() const
{
    QMutexLocker locker(&m_mutex);
    QFile file(m_path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ValueLog::clear()
{
    QMutexLocker locker(&m_mutex);
    QFile::remove(m_path);
    QFile::remove(olderPath());
}
