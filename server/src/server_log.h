// server_log.h: the D-Bus server's log: every message, the server's own and Qt's, goes through
// Qt's message handler into core::LogWriter (AppDir/tmp/tessera.log, bounded, one line a
// message), and client text is escaped before it is part of a message.
#ifndef TESSERA_SERVER_LOG_H
#define TESSERA_SERVER_LOG_H

#include <tessera/core/log.h>

#include <QString>
#include <QStringView>

namespace tessera {

// Client text (a request identifier, a bus name) made safe for a log line: core::logText.
QString logSafe(QStringView text, int maxChars = core::kLogTextChars);

// The server's log writer; Qt's messages reach it once installQtLog has run.
core::LogWriter& serverLog();
// Sends Qt's messages (qInfo, qWarning, ... and Qt's own) to serverLog().
void installQtLog();

}  // namespace tessera

#endif  // TESSERA_SERVER_LOG_H
