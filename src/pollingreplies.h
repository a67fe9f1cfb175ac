#ifndef POLLINGREPLIES_H
#define POLLINGREPLIES_H

#include "getarray.h"

#include <QByteArray>

class JsonWriter;
class Poller;
struct PollResult;

// The AJAX replies of the read definitions, the polling switch, the polled results and the
// value log (docs/master-api.md). None of them talks to the device.
// Threads: the connection threads; Poller and its parts lock what they share.
namespace PollingReplies {

// What one polled read brought, as the results reply and the broker's messages end:
// "regs", "values", "ms" and "error".
void writeOutcome(JsonWriter &json, const PollResult &result);

QByteArray definitions(Poller &poller);
QByteArray saveDefinition(Poller &poller, const t_GetArray &params);
QByteArray deleteDefinition(Poller &poller, const t_GetArray &params);
QByteArray setPolling(Poller &poller, const t_GetArray &params);
QByteArray results(Poller &poller);
QByteArray logInfo(Poller &poller);
QByteArray clearLog(Poller &poller);

} // namespace PollingReplies

#endif // POLLINGREPLIES_H
