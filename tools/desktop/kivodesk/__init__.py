"""A private Linux desktop for KivoBar's end-to-end tests and demo, read over D-Bus as a panel reads it.

Modules: wait (deadlines), processes (start, track, stop), session (X server and session bus),
bus (blocking D-Bus calls), panels (tray hosts), tray (an item and its menu as rows), signals
(recording a sender's signals), agent (the stand-in Kivo agent), notifications (a stand-in
notification server).
"""
