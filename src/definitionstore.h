#ifndef DEFINITIONSTORE_H
#define DEFINITIONSTORE_H

#include "readdefinition.h"

#include <QMutex>
#include <QString>
#include <QVector>

// The read definitions and the polling switch, kept across restarts in one JSON file that is
// replaced whole on every change (never half written). A file edited elsewhere goes through
// the same checks as the page's requests: what does not pass is dropped.
// Threads: any; changed from the connection threads, read by the poller's.
class DefinitionStore
{
    Q_DISABLE_COPY(DefinitionStore)
public:
    static constexpr int maxDefinitions = 16;

    // path: the file; read now if it is there.
    explicit DefinitionStore(const QString &path);

    QVector<ReadDefinition> definitions() const;
    bool polling() const;

    // Each returns an empty text when the change is stored, else the error text.
    // Adds a definition (id 0; it gets the next id) or replaces the one with its id.
    QString save(ReadDefinition *definition);
    QString remove(int id);
    QString setPolling(bool on);

private:
    void load();
    // Writes what is given and takes it on when the file took it.
    bool commit(const QVector<ReadDefinition> &definitions, bool polling);

    const QString m_path;
    mutable QMutex m_mutex;
    QVector<ReadDefinition> m_definitions; // by id
    bool m_polling = true;
};

#endif // DEFINITIONSTORE_H
