"""A private Linux desktop for KivoBar's end-to-end tests and demo, read over D-Bus as a panel reads it,
and on screen as a user meets it.

Modules: wait (deadlines), processes (start, track, stop), session (X server and session bus),
bus (blocking D-Bus calls), panels (tray hosts), hosts (the desktops people run), tray (an item and
its menu as rows), signals (recording a sender's signals, a bus monitor), agent (the stand-in Kivo
agent), notifications (a stand-in notification server), xscreen (windows and pixels through Xlib),
pixels (pictures, what changed, contrast), xinput (pointer and keys), on_screen (an item found on
screen, and what a click opens), logs (warnings in programs' logs).
"""
