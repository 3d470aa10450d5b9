#pragma once

#include <QByteArrayView>

/// Writes all the bytes to standard output, going on after interruptions; false when the reader has gone
/// away or the output fails otherwise. Call with SIGPIPE ignored.
bool writeToStandardOutput(QByteArrayView bytes);
