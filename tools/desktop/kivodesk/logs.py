"""Reading programs' logs for the warnings they print about someone."""

import re

# GLib's "domain-WARNING **", Qt's with the message pattern the desktops here set, GNOME Shell's "JS ERROR".
WARNING = re.compile(r"-(WARNING|CRITICAL) \*\*|^(warning|critical|fatal): |\bJS (ERROR|WARNING)\b")

# Qt prints each message's type first, so that a warning can be told from chatter.
QT_MESSAGE_PATTERN = "%{type}: %{if-category}%{category}: %{endif}%{message}"


def warnings_naming(text, words=(), bus_names=()):
    """The warning lines of text that name one of words (any case) or one of bus_names (exactly)."""
    patterns = [re.escape(word) for word in words] + [re.escape(name) + r"(?![\d])" for name in bus_names]
    if not patterns:
        return []
    naming = re.compile("|".join(patterns), re.IGNORECASE)
    return [line for line in text.splitlines() if WARNING.search(line) and naming.search(line)]
