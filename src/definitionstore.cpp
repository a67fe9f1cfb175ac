#include "definitionstore.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QSaveFile>

#include <algorithm>

namespace {
// A definitions file is a few kilobytes; anything far larger is not ours.
constexpr qint64 maxFileBytes = 1024 * 1024;
const QString notStored = QStringLiteral("Definitions not stored!");
const QString unknown = QStringLiteral("Unknown definition!");

int indexOf(const QVector<ReadDefinition> &definitions, int id)
{
    for (int i = 0; i < definitions.size(); ++i) {
        if (definitions[i].id == id)
            return i;
    }
    return -1;
}
} // namespace

DefinitionStore::DefinitionStore(const QString &path)
    : m_path(path)
{
    load();
}

void DefinitionStore::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (file.size() > maxFileBytes || !file.open(QIODevice::ReadOnly)) {
        qWarning() << "Read definitions not loaded from" << m_path;
        return;
    }
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    m_polling = root.value(QStringLiteral("polling")).toBool(true);
    const QJsonArray stored = root.value(QStringLiteral("definitions")).toArray();
    for (const QJsonValue &value : stored) {
        ReadDefinition definition;
        const bool taken = ReadDefinition::fromJson(value.toObject(), &definition) &&
                           m_definitions.size() < maxDefinitions && indexOf(m_definitions, definition.id) < 0;
        if (taken)
            m_definitions.append(definition);
        else
            qWarning() << "Read definition dropped from" << m_path;
    }
    std::sort(m_definitions.begin(), m_definitions.end(),
              [](const ReadDefinition &a, const ReadDefinition &b) { return a.id < b.id; });
}

QVector<ReadDefinition> DefinitionStore::definitions() const
{
    QMutexLocker locker(&m_mutex);
    return m_definitions;
}

bool DefinitionStore::polling() const
{
    QMutexLocker locker(&m_mutex);
    return m_polling;
}

QString DefinitionStore::save(ReadDefinition *definition)
{
    QMutexLocker locker(&m_mutex);
    QVector<ReadDefinition> definitions = m_definitions;
    if (definition->id == 0) {
        if (definitions.size() >= maxDefinitions)
            return QStringLiteral("Too many definitions!");
        definition->id = definitions.isEmpty() ? 1 : definitions.constLast().id + 1;
        definitions.append(*definition);
    } else {
        const int at = indexOf(definitions, definition->id);
        if (at < 0)
            return unknown;
        definitions[at] = *definition;
    }
    return commit(definitions, m_polling) ? QString() : notStored;
}

QString DefinitionStore::remove(int id)
{
    QMutexLocker locker(&m_mutex);
    QVector<ReadDefinition> definitions = m_definitions;
    const int at = indexOf(definitions, id);
    if (at < 0)
        return unknown;
    definitions.remove(at);
    return commit(definitions, m_polling) ? QString() : notStored;
}

QString DefinitionStore::setPolling(bool on)
{
    QMutexLocker locker(&m_mutex);
    return commit(m_definitions, on) ? QString() : notStored;
}

bool DefinitionStore::commit(const QVector<ReadDefinition> &definitions, bool polling)
{
    QJsonArray stored;
    for (const ReadDefinition &definition : definitions)
        stored.append(definition.toJson());
    const QJsonObject root{{QStringLiteral("polling"), polling}, {QStringLiteral("definitions"), stored}};
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
        qWarning() << "Read definitions not stored in" << m_path << file.errorString();
        return false;
    }
    m_definitions = definitions;
    m_polling = polling;
    return true;
}
