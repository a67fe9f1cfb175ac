#ifndef TRAFFICREPORT_H
#define TRAFFICREPORT_H

#include "getarray.h"

#include <QByteArray>

// The replies of getTraffic, getCounters and resetCounters, from the Modbus layer's
// recorder of every transaction.
// Threads: any; the recorder is thread-safe, so these need no device lock.
namespace TrafficReport {

// The transactions from `since` (a seq; all kept ones without it) on.
QByteArray traffic(const t_GetArray &params);
QByteArray counters();
QByteArray resetCounters();

} // namespace TrafficReport

#endif // TRAFFICREPORT_H
