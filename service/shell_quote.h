#pragma once

#include <QString>

/// The text as one single-quoted /bin/sh word that the shell reads back unchanged, whatever it holds. Pure.
QString shellQuote(const QString& text);
