#include "scriptevaluator.h"

#include <QElapsedTimer>
#include <QJSEngine>
#include <QJSValue>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
// Interrupts the engine when the time limit passes, unless disarmed first.
class Watchdog
{
public:
    Watchdog(QJSEngine &engine, int timeLimitMs)
        : m_thread([this, &engine, timeLimitMs] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::milliseconds(timeLimitMs), [this] { return m_disarmed; }))
                engine.setInterrupted(true);
        })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_disarmed = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_disarmed = false;
    std::thread m_thread;
};

ScriptEvaluator::Element toElement(const QJSValue &value)
{
    ScriptEvaluator::Element element;
    if (value.isNumber())
        element.kind = ScriptEvaluator::Element::Number;
    else if (value.isString())
        element.kind = ScriptEvaluator::Element::String;
    else if (value.isBool())
        element.kind = ScriptEvaluator::Element::Boolean;
    if (element.kind == ScriptEvaluator::Element::Other) {
        element.number = std::nan("");
        return element;
    }
    // Conversions of primitives run no script code.
    element.number = value.toNumber();
    element.text = value.toString();
    return element;
}
// The value of the text; false when it threw or was interrupted. A thrown value that is not
// an Error object is indistinguishable from a result unless the evaluation is wrapped; the
// wrapper's own object is plain data.
bool evaluateWrapped(QJSEngine &engine, const QString &text, QJSValue *value)
{
    engine.globalObject().setProperty(QStringLiteral("__vexoSource"), text);
    const QJSValue outcome = engine.evaluate(
        QStringLiteral("(function () { try { return { ok: true, value: (0, eval)(__vexoSource) }; }"
                       " catch (e) { return { ok: false }; } })()"),
        QString(), 1);
    if (outcome.isError() || engine.isInterrupted() || !outcome.property(QStringLiteral("ok")).toBool())
        return false;
    *value = outcome.property(QStringLiteral("value"));
    return true;
}

// The first count elements of an array; false when the time limit interrupted the reading.
bool readElements(const QJSEngine &engine, const QJSValue &array, qint64 count,
                  QVector<ScriptEvaluator::Element> *elements)
{
    elements->reserve(static_cast<int>(count));
    for (qint64 i = 0; i < count; ++i) {
        const QJSValue element = array.property(static_cast<quint32>(i));
        if (engine.isInterrupted())
            return false;
        elements->append(toElement(element));
    }
    return true;
}
} // namespace

bool ScriptEvaluator::isAcceptable(const QString &text)
{
    if (text.size() > maxTextLength)
        return false;
    int depth = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('[') || c == QLatin1Char('{') || c == QLatin1Char('(')) {
            if (++depth > maxNesting)
                return false;
        } else if (c == QLatin1Char(']') || c == QLatin1Char('}') || c == QLatin1Char(')')) {
            depth = qMax(0, depth - 1);
        }
    }
    return true;
}

ScriptEvaluator::Result ScriptEvaluator::evaluateArray(const QString &text, int elementLimit, int timeLimitMs)
{
    Result result;
    if (!isAcceptable(text))
        return result;

    QJSEngine engine;
    Watchdog watchdog(engine, timeLimitMs);
    QJSValue value;
    if (!evaluateWrapped(engine, text, &value))
        return result;
    result.isArray = value.isArray();
    if (!result.isArray) {
        result.valid = !value.isUndefined();
        return result;
    }
    // Reading length and elements may run getters or proxies: still under the watchdog.
    const double length = value.property(QStringLiteral("length")).toNumber();
    if (engine.isInterrupted())
        return result;
    result.length = std::isfinite(length) ? static_cast<qint64>(std::trunc(length)) : 0;
    const qint64 count = qBound(qint64(0), result.length, qint64(qMax(0, elementLimit)));
    if (!readElements(engine, value, count, &result.elements))
        return Result();
    result.valid = true;
    return result;
}
